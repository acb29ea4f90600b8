// A properties file read whole, and checked, before log4cpp sees it.
//
// log4cpp's configurator reads the file by name while `configure` holds the
// process-wide lock alone, so a file that never ends (/dev/zero) or a FIFO
// with no writer would stop every log call of the process. So the module
// reads the file itself first, without the lock and without waiting on it,
// and hands log4cpp that text in a file of memory that nothing else can
// change. The text is checked for the one thing in it that can crash
// log4cpp: a category name so deep that creating its parents, once per
// level, runs the native stack out.
#pragma once

#include <set>
#include <string>

namespace quelto::backend {

/// The most bytes a properties file may have; real ones have a few KiB.
inline constexpr long kMaxPropertiesBytes = 1L << 20;

/// The most dot-separated levels a category name may have, in a file as in
/// `get_log`: log4cpp recurses once per level to create a category's parents.
inline constexpr int kMaxCategoryLevels = 256;

/// A properties file's text, and the categories it names (the root aside),
/// as log4cpp reads its keys: those a configuration from it changes.
struct PropertiesFile {
  std::string text;
  std::set<std::string> categories;
};

/// Reads the regular file at `path`. Throws `log4cpp::ConfigureFailure`
/// when it cannot be opened, is not a regular file, is larger than
/// kMaxPropertiesBytes or names a category of kMaxCategoryLevels levels or
/// more; opening it never waits.
PropertiesFile read_properties(const std::string& path);

/// A private file in memory holding a text, which log4cpp opens by name.
class MemoryFile {
 public:
  /// Throws `std::system_error` when the system has no room for it.
  explicit MemoryFile(const std::string& text);
  ~MemoryFile();
  MemoryFile(const MemoryFile&) = delete;
  MemoryFile& operator=(const MemoryFile&) = delete;

  /// A name that opens the file (through /proc/self/fd).
  const std::string& path() const { return path_; }

 private:
  int fd_;
  std::string path_;
};

}  // namespace quelto::backend
