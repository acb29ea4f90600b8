#include "json_message.h"

#include <cstring>
#include <vector>

#include "constants.h"
#include "write_json.h"

namespace quelto::utils {
namespace {

// Stack slots the record needs beyond its arguments: a key, its value, a key
// copy, a lookup in another table, and a protected call on top.
constexpr int kSlots = 7;

// True when a table after `sources[source]` has the key on top: its value is
// the one to write.
bool shadowed(lua_State* L, const std::vector<int>& sources, std::size_t source) {
  for (std::size_t later = source + 1; later < sources.size(); ++later) {
    lua_pushvalue(L, -1);
    lua_rawget(L, sources[later]);
    const bool found = !lua_isnil(L, -1);
    lua_pop(L, 1);
    if (found) return true;
  }
  return false;
}

// Whether the key on top becomes a member of its own (else it goes into args).
bool is_member_key(lua_State* L) {
  if (lua_type(L, -1) != lua::String) return false;
  std::size_t size = 0;
  const char* name = lua_tolstring(L, -1, &size);
  return !is_reserved_member(std::string_view(name, size));
}

// The text of the arguments, as the member "msg"; the tables without a
// `__tostring` are added to `sources`, whose entries are written after it.
void write_text(lua_State* L, int first, std::vector<int>& sources, MessageBuffer& message) {
  put(message, "{\"msg\":\"");
  for (int i = first, top = lua_gettop(L); i <= top && !message.full(); ++i) {
    const int type = lua_type(L, i);
    switch (type) {
      case lua::Table:
      case lua::Userdata:
      case lua::LightUserdata:
        if (lua::call_tostring(L, i)) {  // result on top
          std::size_t size = 0;
          if (const char* text = detail::tostring_text(L, &size); text != nullptr) {
            write_json_escaped(text, size, message);
          } else {
            message.setstate(std::ios_base::badbit);  // the message ends here, as elsewhere
          }
          lua_pop(L, 1);
        } else if (type == lua::Table) {
          sources.push_back(i);
        } else {
          write_opaque<Strings::Json>(L, i, message);
        }
        break;
      case lua::String:
        detail::write_string<Strings::Json>(L, i, true, message);
        break;
      case lua::Number:
        write_json_number(L, i, message);
        break;
      case lua::Nil:
      case lua::Boolean:
        write_basetype(L, i, type, message);
        break;
      default:  // functions, threads, cdata
        write_opaque<Strings::Json>(L, i, message);
    }
  }
  put(message, "\"");
}

// Writes the key on top of the stack as a member's name, `"key":`, after a
// comma unless it is the `first`.
void write_member_name(lua_State* L, bool& first, MessageBuffer& message) {
  put(message, first ? "\"" : ",\"");
  first = false;
  write_json_key_text(L, message);
  put(message, "\":");
}

// Writes the entries of the tables `sources` whose keys `wanted` takes, each
// as `"key":value` after a comma (`first` cleared once one is written), in
// the order of the tables and then of lua_next; a key that a later table has
// is left to that table.
template <class Wanted>
void write_entries(lua_State* L, const std::vector<int>& sources, Wanted wanted, bool& first,
                   MessageBuffer& message) {
  const unsigned long& calls_made = lua::protected_calls();
  for (std::size_t s = 0; s < sources.size() && !message.full(); ++s) {
    const TableTraverser level(L, sources[s], 0, ' ');
    bool lua_ran = false;
    lua_pushnil(L);
    while (lua::next(L, sources[s], lua_ran) != 0) {  // key, value
      const unsigned long calls = calls_made;
      lua_pushvalue(L, -2);  // key copy
      if (wanted(L) && !shadowed(L, sources, s)) {
        write_member_name(L, first, message);
        detail::write_element_value<JsonFormat<false>>(L, level, message);
      }
      lua_pop(L, 2);  // key copy, value
      if (message.full()) {
        lua_pop(L, 1);  // key
        return;
      }
      lua_ran = calls != calls_made;
    }
  }
}

// The same, sorted: the keys of every table at once.
template <class Wanted>
void write_sorted_entries(lua_State* L, const std::vector<int>& sources, Wanted wanted, bool& first,
                          MessageBuffer& message) {
  const int base = lua_gettop(L);
  SortedKeys keys;
  for (std::size_t s = 0; s < sources.size(); ++s) keys.add(L, sources[s], static_cast<int>(s));
  keys.sort();
  for (const SortedKeys::Entry& entry : keys.entries()) {
    if (message.full()) break;
    const int table = sources[static_cast<std::size_t>(entry.source)];
    SortedKeys::push_key(L, entry);  // key
    if (wanted(L) && !shadowed(L, sources, static_cast<std::size_t>(entry.source))) {
      lua_pushvalue(L, -1);
      lua_rawget(L, table);     // key, value
      if (!lua_isnil(L, -1)) {  // else removed by Lua code meanwhile
        lua_pushvalue(L, -2);   // key, value, key copy
        write_member_name(L, first, message);
        const TableTraverser level(L, table, 0, ' ');
        detail::write_element_value<JsonFormat<true>>(L, level, message);
        lua_pop(L, 1);  // key copy
      }
      lua_pop(L, 1);  // value
    }
    lua_pop(L, 1);  // key
  }
  lua_settop(L, base);  // the tables of keys
}

// The member "args": the entries of `sources` that are no member of their
// own, an array when their keys (the latest table's winning) are exactly 1..n.
template <bool kSorted>
void write_args(lua_State* L, const std::vector<int>& sources, MessageBuffer& message) {
  const auto is_arg = [](lua_State* L) { return !is_member_key(L); };
  long long count = 0, length = 0;  // keys, and the largest; -1: not an array
  for (std::size_t s = 0; s < sources.size() && count >= 0; ++s) {
    lua_pushnil(L);
    while (lua_next(L, sources[s]) != 0) {  // no Lua code runs here: a raw walk
      lua_pop(L, 1);                        // the value
      if (!is_arg(L) || shadowed(L, sources, s)) continue;
      long long integer = 0;
      if (lua_type(L, -1) != lua::Number || !lua::integer_value(L, -1, &integer) || integer < 1) {
        lua_pop(L, 1);
        count = -1;
        break;
      }
      ++count;
      if (integer > length) length = integer;
    }
  }
  if (count == 0) return;
  put(message, ",\"args\":");
  if (count == length) {  // an array, by index
    put(message, "[");
    for (long long i = 1; i <= length && !message.full(); ++i) {
      if (i > 1) put(message, ",");
      std::size_t s = sources.size();
      do {
        lua_rawgeti(L, sources[--s], static_cast<lua_Integer>(i));
        if (!lua_isnil(L, -1) || s == 0) break;
        lua_pop(L, 1);
      } while (true);
      lua_pushinteger(L, static_cast<lua_Integer>(i));  // key copy
      const TableTraverser level(L, sources[s], 0, ' ');
      detail::write_element_value<JsonFormat<kSorted>>(L, level, message);
      lua_pop(L, 2);
    }
    put(message, "]");
    return;
  }
  bool first = true;
  put(message, "{");
  if constexpr (kSorted) {
    write_sorted_entries(L, sources, is_arg, first, message);
  } else {
    write_entries(L, sources, is_arg, first, message);
  }
  put(message, "}");
}

}  // namespace

bool is_reserved_member(std::string_view name) {
  for (const std::string_view member : {"msg", "src", "time", "level", "logger", "args"}) {
    if (name == member) return true;
  }
  return false;
}

template <bool kSorted>
void write_json_message(lua_State* L, int first, int fields, const Location& location,
                        MessageBuffer& message) {
  std::vector<int> sources;
  if (fields != 0) sources.push_back(fields);
  const int base = lua_gettop(L);
  if (!lua_checkstack(L, kSlots + (kSorted ? base - first + 2 : 0))) {
    put(message, "{\"msg\":\"");
    put(message, kStackLimitMarker);
    put(message, "\"}");
    return;
  }
  write_text(L, first, sources, message);
  if (location.file != nullptr) {
    put(message, ",\"src\":\"");
    write_json_escaped(location.file, std::strlen(location.file), message);
    put(message, ":");
    message << static_cast<long long>(location.line);
    put(message, "\"");
  }
  if (!sources.empty()) {
    const auto is_member = [](lua_State* L) { return is_member_key(L); };
    bool first_member = false;  // "msg" came before
    if constexpr (kSorted) {
      write_sorted_entries(L, sources, is_member, first_member, message);
    } else {
      write_entries(L, sources, is_member, first_member, message);
    }
    write_args<kSorted>(L, sources, message);
  }
  put(message, "}");
}

template void write_json_message<false>(lua_State*, int, int, const Location&, MessageBuffer&);
template void write_json_message<true>(lua_State*, int, int, const Location&, MessageBuffer&);

namespace {

// Where a JSON text stands after some prefix of it, as far as closing it goes.
enum class Want : unsigned char {
  Value,   // a value: after "[", ":" or a comma in an array
  Key,     // a member's name: after "{" or a comma in an object
  Colon,   // the ":" after a name
  After,   // a comma or the end of the array or object
  String,  // inside a string: a value's, or a name's
  Token,   // inside a number or a literal
};

// Follows a JSON text byte by byte, keeping what is open.
struct Scanner {
  std::string open;  // "{" and "[" still open, innermost last
  Want want = Want::Value;
  bool in_name = false;  // the string open is a member's name
  int escape_left = 0;   // bytes of an escape still to come

  // What closing the text here takes beyond the marker, and whether it can
  // close here at all: not inside a name, an escape, a character or a token.
  bool closable(unsigned char next) const {
    switch (want) {
      case Want::Value:
      case Want::Key:
        return true;
      case Want::String:
        return !in_name && escape_left == 0 && (next & 0xC0) != 0x80;
      default:
        return false;
    }
  }
  // The bytes that close it here: what the marker needs, then the brackets.
  std::size_t closing_size() const {
    const std::size_t marker = kCutMarker.size();
    switch (want) {
      case Want::String:
        return marker + 1 + open.size();  // marker"
      case Want::Key:
        return marker + 7 + open.size();  // "marker":true
      default:
        return marker + 2 + open.size();  // "marker"
    }
  }
  void step(char c) {
    if (want == Want::String) {
      if (escape_left > 0) {
        escape_left = escape_left == 1 && c == 'u' ? 4 : escape_left - 1;
      } else if (c == '\\') {
        escape_left = 1;
      } else if (c == '"') {
        want = in_name ? Want::Colon : Want::After;
      }
      return;
    }
    if (want == Want::Token) {
      if (c != ',' && c != ']' && c != '}') return;
      want = Want::After;
    }
    switch (c) {
      case '{':
      case '[':
        open.push_back(c);
        want = c == '{' ? Want::Key : Want::Value;
        break;
      case '}':
      case ']':
        open.pop_back();
        want = Want::After;
        break;
      case ',':
        want = !open.empty() && open.back() == '{' ? Want::Key : Want::Value;
        break;
      case ':':
        want = Want::Value;
        break;
      case '"':
        in_name = want == Want::Key;
        want = Want::String;
        break;
      default:
        want = Want::Token;
    }
  }
};

}  // namespace

std::string close_json(std::string_view text, bool cut, std::size_t bound) {
  if (cut && text.size() >= kCutMarker.size()) text.remove_suffix(kCutMarker.size());
  // The last place where the text can close within the bound.
  Scanner scan;
  std::size_t end = 0;
  for (std::size_t i = 0;; ++i) {
    const unsigned char next = i < text.size() ? static_cast<unsigned char>(text[i]) : 0;
    if (scan.closable(next) && i + scan.closing_size() <= bound) end = i;
    if (i == text.size()) break;
    scan.step(text[i]);
  }
  Scanner at_end;
  for (std::size_t i = 0; i < end; ++i) at_end.step(text[i]);
  std::string closed(text.substr(0, end));
  switch (at_end.want) {
    case Want::String:
      closed.append(kCutMarker).append("\"");
      break;
    case Want::Key:
      closed.append("\"").append(kCutMarker).append("\":true");
      break;
    default:
      closed.append("\"").append(kCutMarker).append("\"");
  }
  for (auto it = at_end.open.rbegin(); it != at_end.open.rend(); ++it) {
    closed.push_back(*it == '{' ? '}' : ']');
  }
  return closed;
}

}  // namespace quelto::utils
