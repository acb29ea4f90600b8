// Build tool: checks that a Lua source parses in the interpreter the module
// is built for, then writes it as a C++ header holding its bytes:
//   embed_lua SOURCE HEADER NAME
// writes `inline constexpr char NAME[] = {...};` (NUL-terminated).
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include <lua.hpp>  // the C Lua of the build, whatever the module's host

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: embed_lua SOURCE HEADER NAME\n");
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  const std::string source((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (!in.eof() && in.fail()) {
    std::fprintf(stderr, "embed_lua: cannot read %s\n", argv[1]);
    return 1;
  }
  lua_State* L = luaL_newstate();
  if (L == nullptr) return 1;
  const std::string chunk = std::string("@") + argv[1];
  if (luaL_loadbuffer(L, source.data(), source.size(), chunk.c_str()) != 0) {
    std::fprintf(stderr, "%s\n", lua_tostring(L, -1));
    lua_close(L);
    return 1;
  }
  lua_close(L);
  std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
  out << "// Generated from " << argv[1] << " by embed_lua: do not edit.\n#pragma once\n\n"
      << "inline constexpr char " << argv[3] << "[] = {";
  for (std::size_t i = 0; i < source.size(); ++i) {
    out << (i % 16 == 0 ? "\n    " : " ") << static_cast<int>(static_cast<unsigned char>(source[i]))
        << ',';
  }
  out << "\n    0};\n";
  return out.good() ? 0 : 1;
}
