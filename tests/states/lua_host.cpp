#include "lua_host.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

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

StalledPipe::StalledPipe(std::string path) : path_(std::move(path)) {
  if (mkfifo(path_.c_str(), 0600) != 0) throw std::runtime_error("mkfifo failed");
  reader_ = open(path_.c_str(), O_RDONLY | O_NONBLOCK);
}

StalledPipe::~StalledPipe() {
  close(reader_);
}

bool StalledPipe::wait_until_full() const {
  int before = -1;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < end) {
    int held = 0;
    if (ioctl(reader_, FIONREAD, &held) == 0 && held >= 32768 && held == before) return true;
    before = held;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return false;
}

std::string StalledPipe::read_some(std::size_t bytes) const {
  std::string text(bytes, '\0');
  const ssize_t got = read(reader_, text.data(), bytes);
  text.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
  return text;
}

void StalledPipe::drain(const std::atomic<bool>& start, const std::atomic<bool>& done) const {
  const auto late = std::chrono::steady_clock::now() + std::chrono::seconds(15);
  while (!start && std::chrono::steady_clock::now() < late) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  while (!done) {
    if (read_some(65536).empty()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
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
