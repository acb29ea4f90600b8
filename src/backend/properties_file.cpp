#include "properties_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <log4cpp/Configurator.hh>
#include <map>
#include <string_view>
#include <system_error>
#include <utility>

#include "../lua/messages.h"
#include "categories.h"
#include "texts.h"

namespace quelto::backend {
namespace {

// A fixed text with the path (and a number) filled in, as a configure failure.
template <typename... Values>
log4cpp::ConfigureFailure failure(const char* text, const std::string& path, Values... values) {
  return log4cpp::ConfigureFailure(filled(text, path.c_str(), values...));
}

// Closes a descriptor on every way out.
struct Descriptor {
  int fd;
  ~Descriptor() {
    if (fd >= 0) close(fd);
  }
};

// A line as log4cpp's reader keeps it: read in pieces of at most 255 bytes,
// each of which ends at its first NUL.
std::string logical_line(std::string_view raw) {
  std::string line;
  for (std::size_t at = 0; at < raw.size(); at += 255) {
    const std::string_view piece = raw.substr(at, 255);
    line.append(piece.substr(0, piece.find('\0')));
  }
  return line;
}

}  // namespace

std::string_view trimmed(std::string_view text, const char* space) {
  const std::size_t first = text.find_first_not_of(space);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(space) + 1 - first);
}

std::optional<Property> property_of(std::string_view line, const char* space) {
  line = line.substr(0, line.find('#'));
  const std::size_t equals = line.find('=');
  if (equals == std::string_view::npos) return std::nullopt;
  std::string_view key = trimmed(line.substr(0, equals), space);
  const std::size_t dot = key.find('.');
  const std::string_view head = key.substr(0, dot);
  if (dot != std::string_view::npos && (head == "log4cpp" || head == "log4j")) {
    key.remove_prefix(dot + 1);
  }
  return Property{key, trimmed(line.substr(equals + 1), space)};
}

namespace {

// The category a line of the file names, as log4cpp reads it with `space`
// as white space: empty for a line that names none.
std::string_view category_of(std::string_view line, const char* space) {
  const std::optional<Property> property = property_of(line, space);
  constexpr std::string_view kCategory = "category.";
  if (!property || property->key.substr(0, kCategory.size()) != kCategory) return {};
  return property->key.substr(kCategory.size());
}

// Every kind of white space: the depth is checked with it too, which errs
// towards finding a category log4cpp would not see.
constexpr char kAnySpace[] = " \t\r\n\f\v";

// Calls `visit` with each line of the text as log4cpp's reader keeps it,
// and where it stands in the text: [start, end).
template <class Visit>
void for_each_line(const std::string& text, Visit visit) {
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    visit(logical_line(std::string_view(text).substr(start, end - start)), start, end);
    start = end + 1;
  }
}

// log4cpp's substitution in a value: `${name}` is the environment's `name`,
// else the value of the key `name` read so far, else nothing; `${${}`
// is "${", and a `${` that no `}` ends stays as it is.
std::string substituted(const std::string& value, const Log4cppProperties& read) {
  std::size_t right = value.find("${");
  if (right == std::string::npos) return value;
  std::string result;
  std::size_t left = 0;
  for (;;) {
    result += value.substr(left, right - left);
    if (right == std::string::npos) break;
    left = right + 2;
    right = value.find('}', left);
    if (right == std::string::npos) {
      result += value.substr(left - 2);
      break;
    }
    const std::string name = value.substr(left, right - left);
    if (name == "${") {
      result += "${";
    } else if (const char* variable = std::getenv(name.c_str())) {
      result += variable;
    } else if (const auto found = read.find(name); found != read.end()) {
      result += found->second;
    }
    left = right + 1;
    right = value.find("${", left);
  }
  return result;
}

// The categories the text names, and the module's own settings; throws for
// a category that is too deep or a module key it refuses.
void read_keys(const std::string& text, const std::string& path, PropertiesFile& file) {
  for_each_line(text, [&](const std::string& line, std::size_t, std::size_t) {
    for (const char* space : {kLog4cppSpace, kAnySpace}) {
      const std::string_view name = category_of(line, space);
      if (std::count(name.begin(), name.end(), '.') >= kMaxCategoryLevels) {
        throw failure(messages::kConfigureTooDeep, path, kMaxCategoryLevels);
      }
    }
    const std::string_view name = category_of(line, kLog4cppSpace);
    if (!name.empty()) file.categories.emplace(name);
    if (const std::optional<Property> property = property_of(line, kLog4cppSpace)) {
      read_module_key(property->key, property->value, file.settings, file.module_keys);
    }
  });
}

}  // namespace

std::vector<PropertyLine> property_lines(const std::string& text) {
  std::vector<PropertyLine> lines;
  Log4cppProperties read;
  for_each_line(text, [&](const std::string& line, std::size_t start, std::size_t end) {
    if (const std::optional<Property> property = property_of(line, kLog4cppSpace)) {
      std::string value = substituted(std::string(property->value), read);
      const auto [at, first] = read.emplace(std::string(property->key), value);
      if (first) lines.push_back({at->first, std::move(value), start, end});  // later ones ignored
    }
  });
  return lines;
}

Log4cppProperties log4cpp_properties(const std::string& text) {
  Log4cppProperties properties;
  for (PropertyLine& line : property_lines(text)) {
    properties.emplace(std::move(line.key), std::move(line.value));
  }
  return properties;
}

PropertiesFile check_properties(std::string text, const std::string& source,
                                void (*check_settings)(const ModuleSettings&)) {
  if (static_cast<long>(text.size()) > kMaxPropertiesBytes) {
    throw failure(messages::kConfigureTooLarge, source, kMaxPropertiesBytes);
  }
  PropertiesFile file{std::move(text), {}, {}, {}, {}};
  read_keys(file.text, source, file);
  if (check_settings != nullptr) check_settings(file.settings);
  Log4cppProperties properties = log4cpp_properties(file.text);
  for (const std::string& name : file.settings.json_appenders) {
    const std::string appender = "appender." + name;
    if (properties.count(appender) == 0) {
      throw failure(messages::kUndefinedAppender, "quelto." + appender + ".layout", name.c_str());
    }
    // log4cpp wants a layout for the appender, which the JSON layout replaces.
    if (properties.emplace(appender + ".layout", "SimpleLayout").second) {
      file.text.append("\nlog4cpp.").append(appender).append(".layout=SimpleLayout\n");
    }
  }
  file.appenders = check_log4cpp_properties(properties);
  return file;
}

std::string file_source(const std::string& path) {
  return filled(messages::kFileSource, path.c_str());
}

PropertiesFile read_properties(const std::string& path,
                               void (*check_settings)(const ModuleSettings&)) {
  // Looked at before it is opened, so that no device is opened at all; a
  // FIFO swapped in between still opens at once (O_NONBLOCK) and fails fstat.
  struct stat status;
  if (stat(path.c_str(), &status) != 0) throw failure(messages::kConfigureNoFile, path);
  if (!S_ISREG(status.st_mode)) throw failure(messages::kConfigureNotRegular, path);
  const Descriptor file{open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC)};
  if (file.fd < 0) throw failure(messages::kConfigureNoFile, path);
  if (fstat(file.fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    throw failure(messages::kConfigureNotRegular, path);
  }
  std::string text;
  char block[16384];
  for (;;) {
    const ssize_t got = read(file.fd, block, sizeof block);
    if (got == 0) break;
    if (got < 0) {
      if (errno == EINTR) continue;
      throw std::system_error(errno, std::generic_category(), path);
    }
    text.append(block, static_cast<std::size_t>(got));
    if (static_cast<long>(text.size()) > kMaxPropertiesBytes) {  // it may have grown since
      throw failure(messages::kConfigureTooLarge, file_source(path), kMaxPropertiesBytes);
    }
  }
  return check_properties(std::move(text), file_source(path), check_settings);
}

MemoryFile::MemoryFile(const std::string& text)
    : fd_(memfd_create("quelto-properties", MFD_CLOEXEC)) {
  if (fd_ < 0) throw std::system_error(errno, std::generic_category(), "memfd_create");
  try {
    for (std::size_t written = 0; written < text.size();) {
      const ssize_t put = write(fd_, text.data() + written, text.size() - written);
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) throw std::system_error(errno, std::generic_category(), "memfd write");
      written += static_cast<std::size_t>(put);
    }
    path_ = "/proc/self/fd/" + std::to_string(fd_);
  } catch (...) {
    close(fd_);  // the destructor does not run for a constructor that throws
    throw;
  }
}

MemoryFile::~MemoryFile() {
  close(fd_);
}

}  // namespace quelto::backend
