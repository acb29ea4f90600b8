// The line format: the whole message on one line, tables as Lua table
// constructors, every string escaped (write_escaped.h).
//
//   {"x", 2.5, name = {true, "y"}, [404] = 12, ["two words"] = 1, [true] = 1}
//
// Elements come in the order `lua_next` yields, as in the dump. An integer key
// is left out exactly when it is the next position (one more than the keys
// left out before it), so that Lua reads the text back into the same table;
// every other key is written: names bare, other strings, numbers and booleans
// in brackets, other values as their quoted opaque text. The dump's markers
// stand for cycles, the stack limit and opaque values; numbers are written as
// the dump writes them.
#pragma once

#include <cstring>
#include <string_view>

#include "../lua/protected.h"
#include "depth_guard.h"
#include "table_traverser.h"
#include "write_basetype.h"
#include "write_escaped.h"
#include "write_table.h"

namespace quelto::utils {

/// Writes a table, full or light userdata in the line format: through its
/// `__tostring` (escaped; quoted inside a table), as a constructor, or in
/// its opaque form (bare at the top level, "<opaque text>" inside a table).
/// Stops once a bound cut the output. Leaves the Lua stack as it found it.
template <class Stream>
void write_line_object(lua_State* L, int index, int type, const TableTraverser& traverser,
                       Stream& stream);

/// Writes the table at `index` from "{" to "}" at the level of `traverser`.
template <class Stream>
void write_line_table(lua_State* L, int index, const TableTraverser& traverser, Stream& stream);

/// True when the key can be written bare: a Lua name that is no reserved word.
inline bool is_lua_name(const char* text, std::size_t size);

// ---------------------------------------------------------------------------

namespace detail {

/// The key of the element whose key copy is on top, with its " = ", or
/// nothing for the next position (then counted in `next_position`).
template <class Stream>
void write_line_key(lua_State* L, long long& next_position, Stream& stream) {
  switch (lua_type(L, -1)) {
    case lua::Number:
      if (long long integer = 0; lua::integer_value(L, -1, &integer)) {
        if (integer == next_position) {
          ++next_position;
          return;
        }
        put(stream, "[");
        stream << integer;
      } else {
        put(stream, "[");
        stream << static_cast<double>(lua_tonumberx(L, -1, nullptr));
      }
      break;
    case lua::String: {
      std::size_t size = 0;
      const char* key = lua_tolstring(L, -1, &size);
      if (key == nullptr) {
        stream.setstate(std::ios_base::badbit);
        return;
      }
      if (is_lua_name(key, size)) {
        stream.write(key, static_cast<std::streamsize>(size));
        put(stream, " = ");
        return;
      }
      put(stream, "[\"");
      write_escaped(key, size, true, stream);
      put(stream, "\"");
      break;
    }
    case lua::Boolean:
      put(stream, "[");
      write_basetype(L, -1, lua::Boolean, stream);
      break;
    default:
      put(stream, "[\"");
      write_unhandled_type<true>(L, -1, stream, true);
      put(stream, "\"");
      break;
  }
  put(stream, "] = ");
}

}  // namespace detail

template <class Stream>
void write_line_table(lua_State* L, int index, const TableTraverser& traverser, Stream& stream) {
  const DepthGuard depth;
  if (!detail::open_table(L, index, depth, stream)) return;
  const unsigned long& calls_made = lua::protected_calls();
  long long next_position = 1;
  detail::put(stream, "{");
  for (;;) {
    const unsigned long calls = calls_made;
    lua_pushvalue(L, -2);  // key copy: stack is table copy, key, value, key copy
    detail::write_line_key(L, next_position, stream);
    detail::write_value<true>(
        L, traverser, stream,
        [](lua_State* L, int index, int type, const TableTraverser& nested, Stream& stream) {
          write_line_object(L, index, type, nested, stream);
        });
    lua_pop(L, 2);  // key copy and value
    if (is_full(stream)) {
      lua_pop(L, 1);  // key
      break;
    }
    if (lua::next(L, -2, calls != calls_made) == 0) break;  // key popped
    detail::put(stream, ", ");
  }
  detail::put(stream, "}");
  lua_pop(L, 1);  // table copy
}

template <class Stream>
void write_line_object(lua_State* L, int index, int type, const TableTraverser& traverser,
                       Stream& stream) {
  detail::write_object_with<true>(
      L, index, type, traverser, stream, false,
      [](lua_State* L, int index, const TableTraverser& traverser, Stream& stream) {
        write_line_table(L, index, traverser, stream);
      });
}

inline bool is_lua_name(const char* text, std::size_t size) {
  if (size == 0) return false;
  for (std::size_t i = 0; i < size; ++i) {
    const char c = text[i];
    const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
    if (!letter && (i == 0 || c < '0' || c > '9')) return false;
  }
  // The reserved words, by first letter: at most four to compare with.
  static constexpr std::string_view kReserved[26][4] = {{"and"},
                                                        {"break"},
                                                        {},
                                                        {"do"},
                                                        {"else", "elseif", "end"},
                                                        {"false", "for", "function"},
                                                        {"goto"},
                                                        {},
                                                        {"if", "in"},
                                                        {},
                                                        {},
                                                        {"local"},
                                                        {},
                                                        {"nil", "not"},
                                                        {"or"},
                                                        {},
                                                        {},
                                                        {"repeat", "return"},
                                                        {},
                                                        {"then", "true"},
                                                        {"until"},
                                                        {},
                                                        {"while"}};
  if (size > 8 || text[0] < 'a' || text[0] > 'z') return true;
  const std::string_view name(text, size);
  for (const std::string_view word : kReserved[text[0] - 'a']) {
    if (word == name) return false;
  }
  return true;
}

}  // namespace quelto::utils
