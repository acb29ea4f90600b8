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

#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "module_settings.h"
#include "properties_check.h"

namespace quelto::backend {

/// The most bytes a properties file may have; real ones have a few KiB.
inline constexpr long kMaxPropertiesBytes = 1L << 20;

/// A properties file's text, the categories it names (the root aside), as
/// log4cpp reads its keys (those a configuration from it changes), and the
/// module's own settings (its keys under "quelto.").
struct PropertiesFile {
  std::string text;
  std::set<std::string> categories;
  ModuleSettings settings;
  std::set<std::string> module_keys;  // those read, each once
  std::set<std::string> appenders;    // the names of those log4cpp will make
};

/// Reads the regular file at `path`. Throws `log4cpp::ConfigureFailure`
/// when it cannot be opened, is not a regular file, is larger than
/// kMaxPropertiesBytes, names a category of kMaxCategoryLevels levels or
/// more, or has a module key it refuses; opening it never waits.
PropertiesFile read_properties(const std::string& path,
                               void (*check_settings)(const ModuleSettings&) = nullptr);

/// The checks of read_properties on a text already read (its size among
/// them); `source` names it in errors: `file_source(path)`, or
/// messages::kTextSource. A text whose module keys give an appender the JSON
/// layout (`quelto.appender.<name>.layout = json`) must define it; where it
/// gives that appender no layout of log4cpp's, one is added, since log4cpp
/// wants one (the JSON layout takes its place). `check_settings` checks what
/// the module keys set that the backend cannot (the logger options), right
/// after they are read, so that every module key is refused before log4cpp's
/// errors; it throws `log4cpp::ConfigureFailure`. Last, what log4cpp would
/// refuse of it (properties_check.h).
PropertiesFile check_properties(std::string text, const std::string& source,
                                void (*check_settings)(const ModuleSettings&) = nullptr);

/// "File <path>", as errors name a file.
std::string file_source(const std::string& path);

/// The text's keys and values as log4cpp's reader makes them: line by line,
/// the first value of a key kept, `${name}` replaced by the environment's
/// `name`, else by the value of the key `name` read so far, else by nothing.
Log4cppProperties log4cpp_properties(const std::string& text);

/// The same, in the order of their lines, with where each line is in the
/// text ([start, end), without the newline): for rewriting a value.
struct PropertyLine {
  std::string key;
  std::string value;
  std::size_t start;
  std::size_t end;
};
std::vector<PropertyLine> property_lines(const std::string& text);

/// log4cpp's white space, which its reader trims from keys and values.
inline constexpr char kLog4cppSpace[] = " \t\r\n";

/// A line's key and value as log4cpp's reader takes them: the key is what
/// precedes the first '=' (before any '#'), trimmed of `space` and less a
/// leading "log4cpp." or "log4j."; the value what follows it, trimmed. None
/// for a line without '='. Both point into `line`.
struct Property {
  std::string_view key;
  std::string_view value;
};
std::optional<Property> property_of(std::string_view line, const char* space);

/// `text` without the characters of `space` at either end.
std::string_view trimmed(std::string_view text, const char* space);

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
