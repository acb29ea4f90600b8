#include "lua_host.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace quelto::states {

LuaHost::LuaHost() : L_(luaL_newstate()) {
  if (L_ == nullptr) throw std::runtime_error("no memory for a Lua state");
  luaL_openlibs(L_);
  // Only the build's directory: the module must be the one just built.
  const std::string chunk = std::string("package.cpath = '") + QUELTO_MODULE_DIR +
                            "/?.so'\n"
                            "q = require 'quelto_internal'\n"
                            "return 'ok'";
  const std::string loaded = run(chunk);
  if (loaded != "ok") {
    lua_close(L_);
    throw std::runtime_error("cannot load the module: " + loaded);
  }
}

LuaHost::~LuaHost() {
  lua_close(L_);
}

std::string LuaHost::run(const std::string& chunk, const std::string& arg) {
  const int base = lua_gettop(L_);
  std::string result;
  if (luaL_loadstring(L_, chunk.c_str()) != LUA_OK) {
    result = std::string("error: ") + lua_tostring(L_, -1);
  } else {
    lua_pushlstring(L_, arg.data(), arg.size());
    const bool ok = lua_pcall(L_, 1, 1, 0) == LUA_OK;
    const char* text = luaL_tolstring(L_, -1, nullptr);  // pushes the text
    result = ok ? text : std::string("error: ") + text;
  }
  lua_settop(L_, base);
  return result;
}

ScratchDir::ScratchDir() {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern =
      std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/quelto-threads-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  dir_ = pattern;
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  std::filesystem::remove_all(dir_, ignored);
}

std::string ScratchDir::write(const std::string& name, const std::string& text) const {
  std::string file = path(name);
  std::ofstream(file, std::ios::binary) << text;
  return file;
}

std::string file_properties(const std::string& appender, const std::string& log_file) {
  const std::string prefix = "log4cpp.appender." + appender;
  return "log4cpp.rootCategory=DEBUG, " + appender + "\n" + prefix + "=FileAppender\n" + prefix +
         ".fileName=" + log_file + "\n" + prefix + ".layout=PatternLayout\n" + prefix +
         ".layout.ConversionPattern=%m<eor>%n\n";
}

std::string rejected_properties() {
  return "log4cpp.rootCategory=DEBUG, bad\nlog4cpp.appender.bad=NoSuchAppender\n";
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::map<std::string, int> count_records(const std::vector<std::string>& texts) {
  static const std::string kEnd = "<eor>\n";
  std::map<std::string, int> counts;
  for (const std::string& text : texts) {
    std::size_t start = 0;
    for (std::size_t end; (end = text.find(kEnd, start)) != std::string::npos;
         start = end + kEnd.size()) {
      ++counts[text.substr(start, end - start)];
    }
    if (start != text.size()) ++counts["unterminated: " + text.substr(start)];
  }
  return counts;
}

}  // namespace quelto::states
