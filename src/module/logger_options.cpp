#include "logger_options.h"

#include <cstddef>
#include <cstring>
#include <new>

#include "../lua/messages.h"
#include "../render/constants.h"

namespace quelto {
namespace {

// Registry name of the per-state defaults.
constexpr char kDefaultsName[] = "QueltoLoggerDefaults";

// One option: its name, the values it takes as its error names them, and
// how it reads a value into the options (false: not a value it takes).
struct Option {
  const char* name;
  const char* expected;
  bool (*read)(lua_State* L, int index, LoggerOptions& options);
};

// An option whose value is one of `names`, stored as the enum value of the
// same position.
template <class Enum, std::size_t N>
bool read_choice(lua_State* L, int index, const char* const (&names)[N], Enum& field) {
  if (lua_type(L, index) != LUA_TSTRING) return false;
  std::size_t length = 0;
  const char* text = lua_tolstring(L, index, &length);
  for (std::size_t i = 0; i < N; ++i) {
    if (std::strlen(names[i]) == length && std::memcmp(names[i], text, length) == 0) {
      field = static_cast<Enum>(i);
      return true;
    }
  }
  return false;
}

constexpr const char* kGateNames[] = {"own", "chained"};          // in the order of backend::Gate
constexpr const char* kFormatNames[] = {"dump", "line", "json"};  // in the order of Style::Format

// The bound must leave room for the marker that ends a cut record; false
// for no bound.
static_assert(utils::kCutMarker.size() == 11, "the option's error text names the least bound");
bool read_max_bytes(lua_State* L, int index, std::size_t& field) {
  if (lua_type(L, index) == LUA_TBOOLEAN && !lua_toboolean(L, index)) {
    field = 0;
    return true;
  }
  long long bytes = 0;
  if (lua_type(L, index) != LUA_TNUMBER || !lua::integer_value(L, index, &bytes) ||
      bytes < static_cast<long long>(utils::kCutMarker.size())) {
    return false;
  }
  field = static_cast<std::size_t>(bytes);
  return true;
}

constexpr Option kOptions[] = {
    {"gate", "\"own\" or \"chained\"",
     [](lua_State* L, int index, LoggerOptions& options) {
       return read_choice(L, index, kGateNames, options.gate);
     }},
    {"format", "\"dump\", \"line\" or \"json\"",
     [](lua_State* L, int index, LoggerOptions& options) {
       return read_choice(L, index, kFormatNames, options.style.format);
     }},
    {"escape", "a boolean",
     [](lua_State* L, int index, LoggerOptions& options) {
       if (lua_type(L, index) != LUA_TBOOLEAN) return false;
       options.style.escape = lua_toboolean(L, index) != 0;
       return true;
     }},
    {"max_bytes", "false or an integer of at least 11",
     [](lua_State* L, int index, LoggerOptions& options) {
       return read_max_bytes(L, index, options.style.max_bytes);
     }},
};

const Option* find_option(const char* name, std::size_t length) {
  for (const Option& option : kOptions) {
    if (std::strlen(option.name) == length && std::memcmp(option.name, name, length) == 0) {
      return &option;
    }
  }
  return nullptr;
}

}  // namespace

void read_options(lua_State* L, int index, LoggerOptions& options) {
  index = lua_absindex(L, index);
  luaL_checktype(L, index, LUA_TTABLE);
  LoggerOptions read = options;  // committed only once every option is good
  lua_pushnil(L);
  while (lua_next(L, index) != 0) {  // the name at -2, its value at -1
    if (lua_type(L, -2) != LUA_TSTRING) {
      luaL_error(L, messages::kOptionName, luaL_typename(L, -2));
    }
    std::size_t length = 0;
    const char* name = lua_tolstring(L, -2, &length);
    const Option* option = find_option(name, length);
    if (option == nullptr) luaL_error(L, messages::kUnknownOption, name);
    if (!option->read(L, -1, read)) {
      if (lua_type(L, -1) == LUA_TSTRING) {
        lua_pushfstring(L, "\"%s\"", lua_tolstring(L, -1, nullptr));
      } else {
        lua_pushstring(L, luaL_typename(L, -1));
      }
      luaL_error(L, messages::kBadOptionValue, option->name, option->expected,
                 lua_tolstring(L, -1, nullptr));
    }
    lua_pop(L, 1);  // the value; the name stays for lua_next
  }
  options = read;
}

void push_defaults(lua_State* L) {
  if (lua_getfield(L, LUA_REGISTRYINDEX, kDefaultsName) == LUA_TUSERDATA &&
      lua_rawlen(L, -1) == sizeof(LoggerOptions)) {
    return;  // loaded before in this state
  }
  lua_pop(L, 1);
  new (lua_newuserdata(L, sizeof(LoggerOptions))) LoggerOptions{};
  lua_pushvalue(L, -1);
  lua_setfield(L, LUA_REGISTRYINDEX, kDefaultsName);
}

int set_defaults(lua_State* L) {
  read_options(L, 1, defaults_at(L, lua_upvalueindex(1)));
  return 0;
}

}  // namespace quelto
