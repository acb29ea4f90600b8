#include "expected_message.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>

namespace quelto::fuzz {
namespace {

// The bound on tables open at once in a dump, after which a table is written
// as the stack-limit marker.
constexpr int kOpenTableBound = 200;

// Thrown when the call must raise; the kind says which error.
struct Raise {
  Expectation::Result kind;
};

std::string spaces(int count) {
  return std::string(static_cast<std::size_t>(count), ' ');
}

std::string replace_newlines(const std::string& text, const std::string& with) {
  std::string out;
  for (const char c : text) {
    if (c == '\n') {
      out += with;
    } else {
      out += c;
    }
  }
  return out;
}

class Model {
 public:
  explicit Model(lua_State* L) : L(L) {}

  void argument(int index) {
    switch (lua_type(L, index)) {
      case LUA_TTABLE:
      case LUA_TUSERDATA:
      case LUA_TLIGHTUSERDATA: {
        std::string text;
        switch (tostring_of(index, text)) {
          case Text::Some:
            content(text);
            put("\n");
            return;
          case Text::NotText:
            bad_ = true;  // the rest of the message is lost
            return;
          case Text::None:
            break;
        }
        if (lua_type(L, index) == LUA_TTABLE) {
          std::vector<const void*> enclosing;
          table(index, 0, enclosing);
        } else {
          opaque(index);
        }
        return;
      }
      default:
        scalar(index);
    }
  }

  Expectation take() {
    Expectation e;
    e.message = std::move(out_);
    e.contents = std::move(contents_);
    e.cut = bad_;
    return e;
  }

 private:
  enum class Text { None, Some, NotText };

  void put(const std::string& text) {
    if (bad_) return;
    out_ += text;
    if (out_.size() > kMaxMessage) throw Raise{Expectation::Result::TooLarge};
  }

  void content(const std::string& text) {
    if (bad_) return;
    contents_.push_back({out_.size(), out_.size() + text.size()});
    out_ += text;
    if (out_.size() > kMaxMessage) throw Raise{Expectation::Result::TooLarge};
  }

  // A string's text as C code sees it: up to its first NUL.
  std::string c_text(int index) { return std::string(lua_tostring(L, index)); }

  std::string number(int index) {
    char buffer[64];
    if (lua_isinteger(L, index)) {
      std::snprintf(buffer, sizeof buffer, "%lld", static_cast<long long>(lua_tointeger(L, index)));
    } else {
      std::snprintf(buffer, sizeof buffer, "%g", static_cast<double>(lua_tonumber(L, index)));
    }
    return buffer;
  }

  void scalar(int index) {
    switch (lua_type(L, index)) {
      case LUA_TNIL:
        put("nil");
        return;
      case LUA_TBOOLEAN:
        put(lua_toboolean(L, index) ? "true" : "false");
        return;
      case LUA_TNUMBER:
        put(number(index));
        return;
      case LUA_TSTRING:
        content(c_text(index));
        return;
      default:
        opaque(index);
    }
  }

  // "name: 0xaddress", the name being a string `__name` or the type's name.
  void opaque(int index) {
    index = lua_absindex(L, index);
    std::string name = lua_typename(L, lua_type(L, index));
    if (lua_getmetatable(L, index)) {
      lua_pushstring(L, "__name");
      if (lua_rawget(L, -2) == LUA_TSTRING) name = c_text(-1);
      lua_pop(L, 2);
    }
    char address[32];
    std::snprintf(address, sizeof address, ": 0x%" PRIxPTR,
                  reinterpret_cast<std::uintptr_t>(lua_topointer(L, index)));
    content(name);
    put(address);
  }

  // What the value's `__tostring` gives, by reading the closure that the
  // graph made, or what calling a field that is not a function does.
  Text tostring_of(int index, std::string& text) {
    index = lua_absindex(L, index);
    if (!lua_getmetatable(L, index)) return Text::None;
    lua_pushstring(L, "__tostring");
    if (lua_rawget(L, -2) == LUA_TNIL) {
      lua_pop(L, 2);
      return Text::None;
    }
    const lua_CFunction function = lua_tocfunction(L, -1);
    if (function == plain_function) {
      lua_pop(L, 2);
      return Text::NotText;  // it returns nothing: nil
    }
    if (function != tostring_closure) {
      lua_pop(L, 2);
      throw Raise{Expectation::Result::CallError};
    }
    lua_getupvalue(L, -1, 1);
    const auto mode = static_cast<ToStringMode>(lua_tointeger(L, -1));
    lua_pop(L, 1);
    lua_getupvalue(L, -1, 2);  // metatable, field, value
    if (mode == ToStringMode::Raise) {
      lua_replace(L, -3);  // the value to raise on top
      lua_pop(L, 1);
      throw Raise{Expectation::Result::Raised};
    }
    Text result = Text::NotText;
    if (lua_type(L, -1) == LUA_TSTRING || lua_type(L, -1) == LUA_TNUMBER) {
      lua_tolstring(L, -1, nullptr);  // a copy: a number becomes its Lua text
      text = c_text(-1);
      result = Text::Some;
    }
    lua_pop(L, 3);
    return result;
  }

  void key(int index) {
    index = lua_absindex(L, index);
    switch (lua_type(L, index)) {
      case LUA_TNUMBER:
        if (lua_isinteger(L, index)) return;
        put("[" + number(index) + "] = ");
        return;
      case LUA_TSTRING: {
        const std::string text = c_text(index);
        if (text.find('\n') != std::string::npos) {
          put("[\"");
          content(replace_newlines(text, "\\n"));
          put("\"]");
        } else if (text.find(' ') != std::string::npos) {
          put("[\"");
          content(text);
          put("\"]");
        } else {
          content(text);
        }
        put(" = ");
        return;
      }
      case LUA_TBOOLEAN:
        put(lua_toboolean(L, index) ? "[\"true\"] = " : "[\"false\"] = ");
        return;
      default:
        put("[\"");
        opaque(index);
        put("\"] = ");
    }
  }

  // A table, full or light userdata met as a value at `level` (1 or more).
  void nested(int index, int level, std::vector<const void*>& enclosing) {
    std::string text;
    switch (tostring_of(index, text)) {
      case Text::Some:
        put("\"");
        content(replace_newlines(text, "\n" + spaces((level + 1) * 2)));
        put("\"");
        return;
      case Text::NotText:
        bad_ = true;
        return;
      case Text::None:
        break;
    }
    if (lua_type(L, index) == LUA_TTABLE) {
      table(index, level, enclosing);
    } else {
      put("<");
      opaque(index);
      put(">");
    }
  }

  void value(int index, int level, const void* self, std::vector<const void*>& enclosing) {
    switch (lua_type(L, index)) {
      case LUA_TTABLE:
        if (std::find(enclosing.begin(), enclosing.end(), lua_topointer(L, index)) !=
            enclosing.end()) {
          put("<cycle>");
          return;
        }
        [[fallthrough]];
      case LUA_TUSERDATA:
      case LUA_TLIGHTUSERDATA:
        enclosing.push_back(self);
        nested(index, level + 1, enclosing);
        enclosing.pop_back();
        return;
      case LUA_TSTRING:
        put("\"");
        content(c_text(index));
        put("\"");
        return;
      default:
        scalar(index);
    }
  }

  // `enclosing` holds the tables around this one, not this one itself.
  void table(int index, int level, std::vector<const void*>& enclosing) {
    struct Open {
      int& count;
      ~Open() { --count; }
    } open{++open_tables_};
    (void)open;
    if (open_tables_ > kOpenTableBound) {
      put("{<stack limit>}");
      return;
    }
    index = lua_absindex(L, index);
    const void* self = lua_topointer(L, index);
    const int top = lua_gettop(L);
    lua_checkstack(L, 8);
    lua_pushnil(L);
    bool first = true;
    try {
      while (lua_next(L, index) != 0) {  // key, value
        put(first ? "{" : ",");
        first = false;
        put("\n" + spaces((level + 1) * 2));
        key(-2);
        value(lua_gettop(L), level, self, enclosing);
        lua_pop(L, 1);
      }
    } catch (const Raise&) {
      // Keep the raised value, drop the traversal's slots under it.
      lua_copy(L, -1, top + 1);
      lua_settop(L, top + 1);
      throw;
    }
    put(first ? "{}" : "\n" + spaces(level * 2) + "}");
  }

  lua_State* L;
  std::string out_;
  std::vector<Span> contents_;
  bool bad_ = false;
  int open_tables_ = 0;
};

}  // namespace

Expectation expect_message(lua_State* L, const LogCall& call, lua_Integer threshold) {
  if (call.priority > threshold) {
    Expectation e;
    e.result = Expectation::Result::Filtered;
    return e;
  }
  Model model(L);
  const int top = lua_gettop(L);
  try {
    for (const int index : call.args) model.argument(index);
  } catch (const Raise& raise) {
    Expectation e;
    e.result = raise.kind;
    if (raise.kind == Expectation::Result::Raised) {
      lua_copy(L, -1, top + 1);
      lua_settop(L, top + 1);
    } else {
      lua_settop(L, top);
    }
    return e;
  }
  return model.take();
}

}  // namespace quelto::fuzz
