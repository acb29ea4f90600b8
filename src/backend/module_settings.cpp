#include "module_settings.h"

#include <charconv>
#include <cstdint>
#include <log4cpp/Configurator.hh>

#include "../lua/messages.h"
#include "texts.h"

namespace quelto::backend {
namespace {

constexpr std::string_view kPrefix = "quelto.";

// One key: its name after "quelto." (a name that ends in "." takes every key
// that starts so, and reads the rest; one with a "*" takes any name without a
// "." in its place, and reads that name), the values it takes as its error
// names them, and how it reads a value (false: not a value it takes).
struct ModuleKey {
  std::string_view name;
  const char* expected;
  bool (*read)(std::string_view rest, std::string_view value, ModuleSettings& settings);
};

static_assert(kLeastQueue == 16 && kMostQueue == 1048576, "async.queue's error names its range");
constexpr ModuleKey kModuleKeys[] = {
    {"async", "true or false",
     [](std::string_view, std::string_view value, ModuleSettings& settings) {
       return parse_boolean(value, settings.async.on);
     }},
    {"async.queue", "an integer from 16 to 1048576",
     [](std::string_view, std::string_view value, ModuleSettings& settings) {
       long long records = 0;
       if (!parse_integer(value, kLeastQueue, kMostQueue, records)) return false;
       settings.async.records = static_cast<std::uint32_t>(records);
       return true;
     }},
    {"async.when_full", "block or drop",
     [](std::string_view, std::string_view value, ModuleSettings& settings) {
       if (value != "block" && value != "drop") return false;
       settings.async.when_full = value == "drop" ? WhenFull::drop : WhenFull::block;
       return true;
     }},
    {"appender.*.layout", "json",
     [](std::string_view name, std::string_view value, ModuleSettings& settings) {
       if (value != "json") return false;
       settings.json_appenders.emplace(name);
       return true;
     }},
    {"layout.fast", "true or false",
     [](std::string_view, std::string_view value, ModuleSettings& settings) {
       return parse_boolean(value, settings.fast_layout);
     }},
    // The option's name and value are the module's to check (logger_options.h).
    {"defaults.", "",
     [](std::string_view option, std::string_view value, ModuleSettings& settings) {
       settings.defaults.emplace_back(option, value);
       return true;
     }},
};

// Whether `name` is one of the keys `pattern` stands for, and the part that
// varies, into `rest`.
bool matches(std::string_view pattern, std::string_view name, std::string_view& rest) {
  if (const std::size_t star = pattern.find('*'); star != std::string_view::npos) {
    const std::string_view head = pattern.substr(0, star), tail = pattern.substr(star + 1);
    if (name.size() <= head.size() + tail.size() || name.substr(0, head.size()) != head ||
        name.substr(name.size() - tail.size()) != tail) {
      return false;
    }
    rest = name.substr(head.size(), name.size() - head.size() - tail.size());
    return rest.find('.') == std::string_view::npos;
  }
  if (!pattern.empty() && pattern.back() == '.') {
    if (name.size() <= pattern.size() || name.substr(0, pattern.size()) != pattern) return false;
    rest = name.substr(pattern.size());
    return true;
  }
  rest = {};
  return name == pattern;
}

const ModuleKey* find_key(std::string_view name, std::string_view& rest) {
  for (const ModuleKey& key : kModuleKeys) {
    if (matches(key.name, name, rest)) return &key;
  }
  return nullptr;
}

[[noreturn]] void refuse(const char* text, std::string_view key, const char* expected = nullptr,
                         std::string_view value = {}) {
  const std::string k(key), v(value);
  throw log4cpp::ConfigureFailure(filled(text, k.c_str(), expected, v.c_str()));
}

}  // namespace

void read_module_key(std::string_view key, std::string_view value, ModuleSettings& settings,
                     std::set<std::string>& seen) {
  if (key.substr(0, kPrefix.size()) != kPrefix) return;
  if (!seen.emplace(key).second) return;  // a later line of the same key
  std::string_view rest;
  const ModuleKey* known = find_key(key.substr(kPrefix.size()), rest);
  if (known == nullptr) refuse(messages::kUnknownModuleKey, key);
  if (!known->read(rest, value, settings)) {
    refuse(messages::kBadModuleValue, key, known->expected, value);
  }
}

bool parse_boolean(std::string_view value, bool& result) {
  if (value != "true" && value != "false") return false;
  result = value == "true";
  return true;
}

bool parse_integer(std::string_view value, long long least, long long most, long long& result) {
  long long read = 0;
  const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), read);
  if (error != std::errc() || end != value.data() + value.size() || read < least || read > most) {
    return false;
  }
  result = read;
  return true;
}

}  // namespace quelto::backend
