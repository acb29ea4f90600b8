#include "logger_options.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <log4cpp/Configurator.hh>
#include <new>
#include <string_view>

#include "../backend/module_settings.h"
#include "../backend/texts.h"
#include "../lua/messages.h"
#include "../render/constants.h"

namespace quelto {
namespace {

// Registry name of the per-state defaults.
constexpr char kDefaultsName[] = "QueltoLoggerDefaults";

constexpr const char* kGateNames[] = {"own", "chained"};          // in the order of backend::Gate
constexpr const char* kFormatNames[] = {"dump", "line", "json"};  // of Style::Format

// The bound must leave room for the marker that ends a cut record.
static_assert(utils::kCutMarker.size() == 11, "the option's error text names the least bound");
constexpr long long kLeastBound = 11;

// The style packed in one word: the process-wide defaults are kept so, and
// a logger's style is merged with them field by field, by masks.
constexpr int kMaxBytesShift = 8;
constexpr std::uint64_t kFormatField = 3, kEscapeField = 1 << 2, kLocationField = 1 << 3,
                        kLazyField = 1 << 4, kSortKeysField = 1 << 5,
                        kMaxBytesField = ~std::uint64_t{0} << kMaxBytesShift;

// One option: its name, the values it takes as its errors name them, which
// kind of value it reads (a name among `choices`, a boolean, or a bound:
// false or an integer of at least kLeastBound), how it stores the value read
// (a choice's position, 0 or 1, a bound's bytes with 0 for false), and its
// field in the packed style (none for the gate).
struct Option {
  enum class Kind { Choice, Boolean, Bound };
  const char* name;
  const char* expected;
  Kind kind;
  const char* const* choices;
  std::size_t choice_count;
  void (*store)(LoggerOptions& options, long long value);
  std::uint64_t field;
};

template <std::size_t N>
constexpr Option choice(const char* name, const char* expected, const char* const (&names)[N],
                        void (*store)(LoggerOptions&, long long), std::uint64_t field) {
  return {name, expected, Option::Kind::Choice, names, N, store, field};
}

constexpr Option boolean(const char* name, void (*store)(LoggerOptions&, long long),
                         std::uint64_t field) {
  return {name, "a boolean", Option::Kind::Boolean, nullptr, 0, store, field};
}

constexpr Option kOptions[] = {
    choice(
        "gate", "\"own\" or \"chained\"", kGateNames,
        [](LoggerOptions& o, long long v) { o.gate = static_cast<backend::Gate>(v); }, 0),
    choice(
        "format", "\"dump\", \"line\" or \"json\"", kFormatNames,
        [](LoggerOptions& o, long long v) {
          o.style.format = static_cast<utils::Style::Format>(v);
        },
        kFormatField),
    boolean(
        "escape", [](LoggerOptions& o, long long v) { o.style.escape = v != 0; }, kEscapeField),
    {"max_bytes", "false or an integer of at least 11", Option::Kind::Bound, nullptr, 0,
     [](LoggerOptions& o, long long v) { o.style.max_bytes = static_cast<std::size_t>(v); },
     kMaxBytesField},
    boolean(
        "location", [](LoggerOptions& o, long long v) { o.style.location = v != 0; },
        kLocationField),
    boolean(
        "lazy", [](LoggerOptions& o, long long v) { o.style.lazy = v != 0; }, kLazyField),
    boolean(
        "sort_keys", [](LoggerOptions& o, long long v) { o.style.sort_keys = v != 0; },
        kSortKeysField),
};
constexpr unsigned kOptionCount = sizeof kOptions / sizeof kOptions[0];
constexpr unsigned kGateBit = 1u << 0;  // kOptions[0]
constexpr unsigned kStyleGiven = ((1u << kOptionCount) - 1) & ~kGateBit;

// The packed fields of the style options that the bits `given` name, for
// every combination of them.
constexpr auto make_given_fields() {
  std::array<std::uint64_t, 1u << kOptionCount> fields{};
  for (unsigned given = 0; given < fields.size(); ++given) {
    for (unsigned i = 0; i < kOptionCount; ++i) {
      if ((given >> i & 1) != 0) fields[given] |= kOptions[i].field;
    }
  }
  return fields;
}
constexpr auto kGivenFields = make_given_fields();

const Option* find_option(std::string_view name) {
  for (const Option& option : kOptions) {
    if (name == option.name) return &option;
  }
  return nullptr;
}

unsigned bit_of(const Option& option) {
  return 1u << static_cast<unsigned>(&option - kOptions);
}

// The value of a choice named `text`, or -1.
long long choice_named(const Option& option, std::string_view text) {
  for (std::size_t i = 0; i < option.choice_count; ++i) {
    if (text == option.choices[i]) return static_cast<long long>(i);
  }
  return -1;
}

// Reads the Lua value at `index` as `option` takes it into `value`; false
// for a value it does not take.
bool read_value(lua_State* L, int index, const Option& option, long long& value) {
  const int type = lua_type(L, index);
  switch (option.kind) {
    case Option::Kind::Choice: {
      if (type != LUA_TSTRING) return false;
      std::size_t length = 0;
      const char* text = lua_tolstring(L, index, &length);
      value = choice_named(option, std::string_view(text, length));
      return value >= 0;
    }
    case Option::Kind::Boolean:
      if (type != LUA_TBOOLEAN) return false;
      value = lua_toboolean(L, index);
      return true;
    case Option::Kind::Bound:
      if (type == LUA_TBOOLEAN && !lua_toboolean(L, index)) {
        value = 0;
        return true;
      }
      return type == LUA_TNUMBER && lua::integral_value(L, index, &value) && value >= kLeastBound;
  }
  return false;
}

// The same for a properties file's text of a value.
bool read_text(std::string_view text, const Option& option, long long& value) {
  switch (option.kind) {
    case Option::Kind::Choice:
      value = choice_named(option, text);
      return value >= 0;
    case Option::Kind::Boolean: {
      bool flag = false;
      if (!backend::parse_boolean(text, flag)) return false;
      value = flag;
      return true;
    }
    case Option::Kind::Bound:
      if (text == "false") {
        value = 0;
        return true;
      }
      return backend::parse_integer(text, kLeastBound, LLONG_MAX, value);
  }
  return false;
}

// The process-wide defaults: the gate, and the style packed in one word, so
// that a call reads them whole without a lock.
std::atomic<backend::Gate> process_default_gate{backend::Gate::own};
std::atomic<std::uint64_t> process_default_style{0};

std::uint64_t pack(const utils::Style& style) {
  // A bound past 2^56 bytes is no bound a record meets: kept as the largest.
  constexpr std::uint64_t kMost = (std::uint64_t{1} << (64 - kMaxBytesShift)) - 1;
  const std::uint64_t max_bytes = std::min<std::uint64_t>(style.max_bytes, kMost);
  return (static_cast<std::uint64_t>(style.format) & kFormatField) |
         (style.escape ? kEscapeField : 0) | (style.location ? kLocationField : 0) |
         (style.lazy ? kLazyField : 0) | (style.sort_keys ? kSortKeysField : 0) |
         max_bytes << kMaxBytesShift;
}

utils::Style unpack(std::uint64_t word) {
  utils::Style style;
  style.format = static_cast<utils::Style::Format>(word & kFormatField);
  style.escape = (word & kEscapeField) != 0;
  style.location = (word & kLocationField) != 0;
  style.lazy = (word & kLazyField) != 0;
  style.sort_keys = (word & kSortKeysField) != 0;
  style.max_bytes = static_cast<std::size_t>(word >> kMaxBytesShift);
  return style;
}

// A refused key, as the module keys' errors word it.
[[noreturn]] void refuse(const char* text, const std::string& key, const char* expected = "",
                         const std::string& value = {}) {
  throw log4cpp::ConfigureFailure(backend::filled(text, key.c_str(), expected, value.c_str()));
}

}  // namespace

bool OptionSet::gate_given() const {
  return (given & kGateBit) != 0;
}

void read_options(lua_State* L, int index, OptionSet& options) {
  index = lua_absindex(L, index);
  luaL_checktype(L, index, LUA_TTABLE);
  OptionSet read = options;  // committed only once every option is good
  lua_pushnil(L);
  while (lua_next(L, index) != 0) {  // the name at -2, its value at -1
    if (lua_type(L, -2) != LUA_TSTRING) {
      luaL_error(L, messages::kOptionName, luaL_typename(L, -2));
    }
    std::size_t length = 0;
    const char* name = lua_tolstring(L, -2, &length);
    const Option* option = find_option(std::string_view(name, length));
    if (option == nullptr) luaL_error(L, messages::kUnknownOption, name);
    long long value = 0;
    if (!read_value(L, -1, *option, value)) {
      if (lua_type(L, -1) == LUA_TSTRING) {
        lua_pushfstring(L, "\"%s\"", lua_tolstring(L, -1, nullptr));
      } else {
        lua_pushstring(L, luaL_typename(L, -1));
      }
      luaL_error(L, messages::kBadOptionValue, option->name, option->expected,
                 lua_tolstring(L, -1, nullptr));
    }
    option->store(read.values, value);
    read.given |= bit_of(*option);
    lua_pop(L, 1);  // the value; the name stays for lua_next
  }
  options = read;
}

LoggerOptions read_process_defaults(
    const std::vector<std::pair<std::string, std::string>>& defaults) {
  LoggerOptions options;
  for (const auto& [name, text] : defaults) {
    const std::string key = "quelto.defaults." + name;
    const Option* option = find_option(name);
    if (option == nullptr) refuse(messages::kUnknownModuleKey, key);
    long long value = 0;
    if (!read_text(text, *option, value)) {
      refuse(messages::kBadModuleValue, key, option->expected, text);
    }
    option->store(options, value);
  }
  return options;
}

void set_process_defaults(const LoggerOptions& defaults) noexcept {
  process_default_gate.store(defaults.gate, std::memory_order_relaxed);
  process_default_style.store(pack(defaults.style), std::memory_order_relaxed);
}

const std::atomic<backend::Gate>& process_gate() noexcept {
  return process_default_gate;
}

utils::Style resolved_style(const OptionSet& options) noexcept {
  const unsigned given = options.given & kStyleGiven;
  if (given == kStyleGiven) return options.values.style;
  const std::uint64_t defaults = process_default_style.load(std::memory_order_relaxed);
  if (given == 0) return unpack(defaults);
  const std::uint64_t own = kGivenFields[given];
  return unpack((pack(options.values.style) & own) | (defaults & ~own));
}

void push_defaults(lua_State* L) {
  if (lua_getfield(L, LUA_REGISTRYINDEX, kDefaultsName) == LUA_TUSERDATA &&
      lua_rawlen(L, -1) == sizeof(OptionSet)) {
    return;  // loaded before in this state
  }
  lua_pop(L, 1);
  new (lua_newuserdata(L, sizeof(OptionSet))) OptionSet{};
  lua_pushvalue(L, -1);
  lua_setfield(L, LUA_REGISTRYINDEX, kDefaultsName);
}

int set_defaults(lua_State* L) {
  read_options(L, 1, defaults_at(L, lua_upvalueindex(1)));
  return 0;
}

}  // namespace quelto
