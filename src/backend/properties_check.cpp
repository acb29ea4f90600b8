#include "properties_check.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <log4cpp/Configurator.hh>
#include <log4cpp/PatternLayout.hh>
#include <log4cpp/Priority.hh>
#include <set>
#include <stdexcept>
#include <vector>

#include "../lua/messages.h"
#include "properties_file.h"
#include "texts.h"

namespace quelto::backend {
namespace {

[[noreturn]] void refuse(const std::string& text) {
  throw log4cpp::ConfigureFailure(text);
}

// A fixed text of the module's with the appender's name (and its file).
[[noreturn]] void refuse(const char* text, const std::string& name, const std::string& file = "") {
  refuse(filled(text, name.c_str(), file.c_str()));
}

// A value, or `fallback` when the key is not there, as log4cpp's getString.
std::string value_of(const Log4cppProperties& properties, const std::string& key,
                     const char* fallback) {
  const auto found = properties.find(key);
  return found == properties.end() ? fallback : found->second;
}

void check_layout(const Log4cppProperties& properties, const std::string& name) {
  const std::string key = "appender." + name + ".layout";
  const auto layout = properties.find(key);
  if (layout == properties.end()) refuse("Missing layout property for appender '" + name + "'");
  const std::string type = type_of(layout->second);
  if (type == "PatternLayout") {
    const auto pattern = properties.find(key + ".ConversionPattern");
    // log4cpp's own parser, on a layout that nothing else sees: its failure is log4cpp's.
    if (pattern != properties.end()) log4cpp::PatternLayout().setConversionPattern(pattern->second);
  } else if (type != "BasicLayout" && type != "SimpleLayout") {
    refuse("Unknown layout type '" + type + "' for appender '" + name + "'");
  }
}

// A file appender opens its file without O_NONBLOCK, holding the lock that
// every log call waits for: a file whose open would wait is refused. The
// probe opens only what is neither a regular file nor missing (log4cpp
// creates that), without waiting.
void check_file(const std::string& name, const std::string& file) {
  if (file.empty()) refuse(messages::kConfigureNoFileName, name);
  struct stat status;
  if (stat(file.c_str(), &status) != 0 || S_ISREG(status.st_mode) || S_ISDIR(status.st_mode)) {
    return;
  }
  const int fd = open(file.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd >= 0) {
    close(fd);
  } else if (errno == ENXIO || errno == EAGAIN || errno == EWOULDBLOCK) {
    refuse(messages::kConfigureFileWaits, name, file);
  }
}

void check_threshold(const Log4cppProperties& properties, const std::string& name) {
  const std::string threshold = value_of(properties, "appender." + name + ".threshold", "");
  if (threshold.empty()) return;
  try {
    log4cpp::Priority::getPriorityValue(threshold);
  } catch (const std::invalid_argument& e) {
    refuse(std::string(e.what()) + " for threshold of appender '" + name + "'");
  }
}

// What log4cpp's instantiateAppender checks, in its order.
void check_appender(const Log4cppProperties& properties, const std::string& name,
                    const std::string& value) {
  const std::string prefix = "appender." + name;
  const std::string type = type_of(value);
  if (type == "ConsoleAppender") {
    std::string target = value_of(properties, prefix + ".target", "stdout");
    std::transform(target.begin(), target.end(), target.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (target != "stdout" && target != "stderr") {
      refuse(name + "' has invalid target '" + target + "'");  // sic: log4cpp's text
    }
  } else if (type == "FileAppender" || type == "RollingFileAppender" ||
             type == "DailyRollingFileAppender") {
    check_file(name, value_of(properties, prefix + ".fileName", ""));
  } else if (type != "SyslogAppender" && type != "LocalSyslogAppender" && type != "AbortAppender") {
    refuse("Appender '" + name + "' has unknown type '" + type + "'");
  }
  if (type != "AbortAppender") check_layout(properties, name);  // the one without a layout
  check_threshold(properties, name);
}

// The keys of a section ("appender", "category") in log4cpp's order: from
// "<section>." up to the first key past it.
template <class Visit>
void for_each_in(const Log4cppProperties& properties, const std::string& section, Visit visit) {
  const auto end = properties.lower_bound(section + static_cast<char>('.' + 1));
  for (auto it = properties.lower_bound(section + '.'); it != end; ++it)
    visit(it->first, it->second);
}

// The appenders log4cpp makes: at an appender's own key, skipping the keys
// that follow it with its name; any other key of an appender is an error.
std::set<std::string> check_appenders(const Log4cppProperties& properties) {
  std::set<std::string> made;
  std::string current;
  constexpr std::size_t kNameAt = sizeof "appender." - 1;
  for_each_in(properties, "appender", [&](const std::string& key, const std::string& value) {
    const std::size_t dot = key.find('.', kNameAt);
    const std::string name = key.substr(kNameAt, dot - kNameAt);
    if (name == current) return;
    if (dot != std::string::npos) refuse("partial appender definition : " + key);
    current = name;
    check_appender(properties, name, value);
    made.insert(name);
  });
  return made;
}

// log4cpp's split of a category's value at commas.
std::vector<std::string> split(const std::string& value) {
  std::vector<std::string> parts;
  std::size_t left = 0;
  for (std::size_t comma; (comma = value.find(',', left)) != std::string::npos; left = comma + 1) {
    parts.push_back(value.substr(left, comma - left));
  }
  parts.push_back(value.substr(left));
  return parts;
}

// What log4cpp's configureCategory checks, in its order; `name` is
// "rootCategory" for the root, as log4cpp names it in its texts.
void check_category(const Log4cppProperties& properties, const std::string& name,
                    const std::set<std::string>& appenders) {
  const std::string key = name == "rootCategory" ? name : "category." + name;
  const auto found = properties.find(key);
  if (found == properties.end()) refuse("Unable to find category: " + key);
  const std::vector<std::string> parts = split(found->second);
  const std::string priority_name(trimmed(parts.front(), kLog4cppSpace));
  int priority = log4cpp::Priority::NOTSET;
  try {
    if (!priority_name.empty()) priority = log4cpp::Priority::getPriorityValue(priority_name);
  } catch (const std::invalid_argument& e) {
    refuse(std::string(e.what()) + " for category '" + name + "'");
  }
  // "category." names the root too: its name is empty.
  const bool root = name == "rootCategory" || name.empty();
  if (root && priority >= log4cpp::Priority::NOTSET) {
    refuse("cannot set priority NOTSET on Root Category for category '" + name + "'");
  }
  for (auto part = parts.begin() + 1; part != parts.end(); ++part) {
    const std::string appender(trimmed(*part, kLog4cppSpace));
    if (appenders.count(appender) == 0) {
      refuse("Appender '" + appender + "' not found for category '" + name + "'");
    }
  }
}

}  // namespace

std::string type_of(const std::string& value) {
  const std::size_t dot = value.find_last_of('.');
  return dot == std::string::npos ? value : value.substr(dot + 1);
}

std::set<std::string> check_log4cpp_properties(const Log4cppProperties& properties) {
  std::set<std::string> appenders = check_appenders(properties);
  check_category(properties, "rootCategory", appenders);
  constexpr std::size_t kNameAt = sizeof "category." - 1;
  for_each_in(properties, "category", [&](const std::string& key, const std::string&) {
    check_category(properties, key.substr(kNameAt), appenders);
  });
  return appenders;
}

}  // namespace quelto::backend
