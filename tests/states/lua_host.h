// Lua states that load the built module the way a server's do (`require`
// through package.cpath), and the scratch files the threaded tests share.
#pragma once

#include <atomic>
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

/// A FIFO with one reader that reads nothing until told to: a write into it
/// blocks once the pipe is full.
class StalledPipe {
 public:
  explicit StalledPipe(std::string path);
  ~StalledPipe();
  StalledPipe(const StalledPipe&) = delete;
  StalledPipe& operator=(const StalledPipe&) = delete;

  const std::string& path() const { return path_; }

  /// Waits (10 s at most) until the pipe holds 32 KiB or more and takes no
  /// more for 100 ms: a writer is stuck.
  bool wait_until_full() const;

  /// Reads at most `bytes` of what the pipe holds now, waiting for nothing.
  std::string read_some(std::size_t bytes) const;

  /// Reads what comes until `done`, from the time `start` is set or, should
  /// the test's operations wait for ever on the stuck writer, from 15 s on.
  void drain(const std::atomic<bool>& start, const std::atomic<bool>& done) const;

 private:
  std::string path_;
  int reader_;
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
