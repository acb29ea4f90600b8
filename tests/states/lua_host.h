// Lua states that load the built module the way a server's do (`require`
// through package.cpath), and the scratch files the threaded tests share.
#pragma once

#include <lua.hpp>
#include <map>
#include <string>
#include <vector>

namespace quelto::states {

/// A state of its own with the standard libraries, whose `require` finds the
/// built quelto_internal.so, and with the module in the global `q`.
class LuaHost {
 public:
  LuaHost();
  ~LuaHost();
  LuaHost(const LuaHost&) = delete;
  LuaHost& operator=(const LuaHost&) = delete;

  /// Runs `chunk` with `arg` as its `...` and returns its result as a string:
  /// the result's text, or "error: " and the error's text when it raised.
  std::string run(const std::string& chunk, const std::string& arg = "");

  lua_State* state() const { return L_; }

 private:
  lua_State* L_;
};

/// A chunk for `LuaHost::run`: configures from the file at its argument;
/// returns "ok" or the error's text.
inline constexpr char kConfigureChunk[] = R"(
local ok, err = pcall(q.configure, ...)
return ok and "ok" or err
)";

/// A directory of its own under $TMPDIR (or /tmp), removed with its files.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  /// The path of `name` inside the directory.
  std::string path(const std::string& name) const { return dir_ + "/" + name; }

  /// Writes `text` into `name`; returns its path.
  std::string write(const std::string& name, const std::string& text) const;

 private:
  std::string dir_;
};

/// Properties that send every record of the root category, at DEBUG and
/// above, to `log_file` through a FileAppender named `appender`. Each record
/// is its message followed by "<eor>" and a newline.
std::string file_properties(const std::string& appender, const std::string& log_file);

/// Properties that log4cpp rejects while it reads the appenders, before it
/// touches any category.
std::string rejected_properties();

/// The whole of a file, or "" when it cannot be read.
std::string read_file(const std::string& path);

/// The records of the files' texts (each ending "<eor>" and a newline), each
/// with how often it was written; text after the last is "unterminated: ...".
std::map<std::string, int> count_records(const std::vector<std::string>& texts);

}  // namespace quelto::states
