#include "value_graph.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <string>

namespace quelto::fuzz {
namespace {

constexpr int kMaxPool = 48;
constexpr int kMaxArgs = 8;

// Texts that mean something to the dump's format or to printf, and keys that
// read like its markers.
const char* const kTexts[] = {
    "",        "x",      "two words",  "a\nb", "\n",      "ends\n", "\"",
    "\"q\" r", "{",      "}",          "{}",   "<cycle>", "[\"",    "{<stack limit>}",
    "\"] = ",  " = ",    "%s%n%d",     "100%", "\\n",     "\t",     "true",
    "nil",     "__name", "__tostring", "  ",   "a b\nc",  "\n\n",   "0x1",
    "[1] = ",  "<",      ">",          ",",
};
constexpr int kTextCount = sizeof(kTexts) / sizeof(kTexts[0]);

const double kFloats[] = {
    std::numeric_limits<double>::quiet_NaN(),
    -std::numeric_limits<double>::quiet_NaN(),
    std::numeric_limits<double>::infinity(),
    -std::numeric_limits<double>::infinity(),
    -0.0,
    0.0,
    1e308,
    -1e308,
    0.5,
    1e20,
    3.0,
    4.9e-324,
    123456789.0,
    9007199254740992.0,
    9223372036854775808.0,
    -2.5,
};
constexpr int kFloatCount = sizeof(kFloats) / sizeof(kFloats[0]);

// Keys that would make a metatable change how the collector or a call treats
// a table; the graph never sets them, so that Lua code runs only through the
// graph's own `__tostring` closures.
bool is_reserved_key(lua_State* L, int index) {
  if (lua_type(L, index) != LUA_TSTRING) return false;
  const char* key = lua_tostring(L, index);
  return std::strcmp(key, "__gc") == 0 || std::strcmp(key, "__mode") == 0 ||
         std::strcmp(key, "__call") == 0;
}

bool is_valid_key(lua_State* L, int index) {
  switch (lua_type(L, index)) {
    case LUA_TNIL:
      return false;
    case LUA_TNUMBER: {
      const lua_Number n = lua_tonumber(L, index);
      return !std::isnan(n);
    }
    default:
      return !is_reserved_key(L, index);
  }
}

class Builder {
 public:
  Builder(lua_State* L, ByteReader& in) : L(L), in_(in), base_(lua_gettop(L)) {
    lua_checkstack(L, kMaxPool + 32);  // the pool, the call and its arguments
  }

  int size() const { return lua_gettop(L) - base_; }

  // Absolute index of a pool value chosen by the next byte.
  int pick() { return base_ + 1 + in_.byte() % size(); }

  // The pool table chosen by the next byte, or 0 when it picked no table.
  int pick_table() {
    const int index = pick();
    return lua_type(L, index) == LUA_TTABLE ? index : 0;
  }

  void push_text() {
    const std::uint8_t choice = in_.byte();
    if (choice < 192) {
      lua_pushstring(L, kTexts[choice % kTextCount]);
      return;
    }
    std::string text(in_.byte() % 24, '\0');
    for (char& c : text) c = static_cast<char>(in_.byte());
    lua_pushlstring(L, text.data(), text.size());  // may hold NULs
  }

  void push_number() {
    const std::uint8_t choice = in_.byte();
    if (choice < 64) {
      lua_pushinteger(L, static_cast<lua_Integer>(choice % 8) - 2);  // small array indices
    } else if (choice < 128) {
      lua_pushnumber(L, kFloats[choice % kFloatCount]);
    } else if (choice < 192) {
      lua_pushinteger(L, static_cast<lua_Integer>(in_.word()));
    } else {
      const std::uint64_t bits = in_.word();
      double value;
      std::memcpy(&value, &bits, sizeof value);
      lua_pushnumber(L, value);
    }
  }

  void push_opaque() {
    switch (in_.byte() % 4) {
      case 0:
        lua_pushcfunction(L, plain_function);
        break;
      case 1:
        lua_newthread(L);
        break;
      case 2:
        lua_pushlightuserdata(L, reinterpret_cast<void*>(static_cast<std::uintptr_t>(in_.word())));
        break;
      default:
        lua_newuserdata(L, in_.byte() % 16);
        break;
    }
  }

  // A `__tostring` closure, or a value that is not callable in its place.
  void push_tostring() {
    const std::uint8_t choice = in_.byte();
    if (choice >= 224) {  // not callable: calling it is a Lua error
      lua_pushvalue(L, pick());
      return;
    }
    lua_pushinteger(
        L, static_cast<lua_Integer>(choice % 4 == 0 ? ToStringMode::Raise : ToStringMode::Return));
    lua_pushvalue(L, pick());  // returned or raised: a text, number, table, nil, ...
    lua_pushcclosure(L, tostring_closure, 2);
  }

  // A new metatable with `__tostring` and `__name` fields, or a pool table.
  void push_metatable() {
    const std::uint8_t choice = in_.byte();
    if (choice >= 200) {
      const int table = pick_table();
      if (table != 0) {
        lua_pushvalue(L, table);  // a graph table, possibly one it describes
        return;
      }
    }
    lua_createtable(L, 0, 2);
    if (choice & 1) {
      push_tostring();
      lua_setfield(L, -2, "__tostring");
    }
    if (choice & 2) {
      lua_pushvalue(L, pick());  // a string, or a name of an odd type
      lua_setfield(L, -2, "__name");
    }
  }

  void set_metatable() {
    const int target = pick();
    const int type = lua_type(L, target);
    // Metatables shared by a whole type reach only functions, threads and
    // light userdata here: enough to give their opaque texts a `__name`.
    if (type == LUA_TSTRING || type == LUA_TNUMBER || type == LUA_TBOOLEAN || type == LUA_TNIL) {
      return;
    }
    push_metatable();
    lua_setmetatable(L, target);
  }

  void set_field() {
    const int table = pick_table();
    const int key = pick();
    const int value = pick();
    if (table == 0 || !is_valid_key(L, key)) return;
    lua_pushvalue(L, key);
    lua_pushvalue(L, value);
    lua_rawset(L, table);
  }

  void append() {
    const int table = pick_table();
    const int value = pick();
    if (table == 0) return;
    lua_pushvalue(L, value);
    lua_rawseti(L, table, static_cast<lua_Integer>(lua_rawlen(L, table)) + 1);
  }

  // A chain of nested tables around the bound on open tables.
  void push_chain() {
    const int depth = 150 + in_.byte() % 120;
    lua_newtable(L);
    lua_pushvalue(L, -1);  // head, cursor
    for (int i = 0; i < depth; ++i) {
      lua_newtable(L);
      lua_pushvalue(L, -1);
      lua_rawseti(L, -3, 1);  // cursor[1] = inner
      lua_remove(L, -2);      // head, inner
    }
    lua_pop(L, 1);  // head
  }

  void step() {
    const std::uint8_t op = in_.byte();
    const bool room = size() < kMaxPool;
    switch (op % 12) {
      case 0:
        if (room) lua_createtable(L, in_.byte() % 4, in_.byte() % 4);
        break;
      case 1:
        if (room) push_text();
        break;
      case 2:
        if (room) push_number();
        break;
      case 3:
        if (room) lua_pushboolean(L, in_.byte() & 1);
        break;
      case 4:
        if (room) push_opaque();
        break;
      case 5:
      case 6:
        set_field();
        break;
      case 7:
        append();
        break;
      case 8:
        set_metatable();
        break;
      case 9: {  // a table holding itself
        const int table = pick_table();
        const int key = pick();
        if (table == 0 || !is_valid_key(L, key)) break;
        lua_pushvalue(L, key);
        lua_pushvalue(L, table);
        lua_rawset(L, table);
        break;
      }
      case 10:
        if (room) push_chain();
        break;
      default:
        if (room) lua_pushvalue(L, pick());  // the same value twice in the pool
        break;
    }
  }

  // The call is read first, so that the graph can take the rest of the
  // input; its arguments are picked once the pool is complete.
  LogCall start_call(std::vector<std::uint8_t>& picks) {
    static const char* const kMethods[] = {"debug",    "info",  "notice",    "warn",  "error",
                                           "critical", "alert", "emergency", "fatal", "log"};
    static const lua_Integer kPriorities[] = {700, 600, 500, 400, 300, 200, 100, 0, 0};
    LogCall call;
    const std::uint8_t method = in_.byte() % 10;
    call.method = kMethods[method];
    // "log" ranges past NOTSET (800), where the category's gate drops the call.
    call.priority = method == 9 ? static_cast<lua_Integer>(in_.byte()) * 4 : kPriorities[method];
    picks.resize(in_.byte() % (kMaxArgs + 1));
    for (std::uint8_t& pick : picks) pick = in_.byte();
    return call;
  }

  void finish_call(LogCall& call, const std::vector<std::uint8_t>& picks) {
    for (const std::uint8_t pick : picks) call.args.push_back(base_ + 1 + pick % size());
  }

 private:
  lua_State* L;
  ByteReader& in_;
  int base_;
};

}  // namespace

int tostring_closure(lua_State* L) {
  lua_pushvalue(L, lua_upvalueindex(2));
  if (lua_tointeger(L, lua_upvalueindex(1)) == static_cast<lua_Integer>(ToStringMode::Raise)) {
    return lua_error(L);
  }
  return 1;
}

int plain_function(lua_State*) {
  return 0;
}

std::uint64_t ByteReader::word() {
  std::uint64_t value = 0;
  for (int i = 0; i < 8; ++i) value |= static_cast<std::uint64_t>(byte()) << (8 * i);
  return value;
}

LogCall build_graph(lua_State* L, ByteReader& in) {
  Builder builder(L, in);
  std::vector<std::uint8_t> picks;
  LogCall call = builder.start_call(picks);
  lua_newtable(L);  // every graph starts with a table and a text
  lua_pushstring(L, "s");
  for (int steps = 0; steps < 400 && !in.done(); ++steps) builder.step();
  builder.finish_call(call, picks);
  return call;
}

}  // namespace quelto::fuzz
