// Writers for scalar values and for values that have no text of their own.
#pragma once

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <ios>

#include "../lua/protected.h"
#include "../lua/types.h"
#include "stream_ops.h"
#include "write_escaped.h"

namespace quelto::utils {

/// The writers are templates over their output: the module renders into a
/// `MessageBuffer`, the tests also into a standard stream to compare.
///
/// Writes the value at `index` whose type code the caller read as `type`:
/// nil, true/false, integers in decimal, floats as printf's "%g" does, strings
/// raw up to their first NUL. Every other type goes to `write_unhandled_type`.
/// Leaves the Lua stack as it found it and converts nothing in place.
/// `kEscaped` writes strings whole and escaped instead (write_escaped.h);
/// `kExact` writes floats as `write_lua_float` does.
template <bool kEscaped = false, bool kExact = false, class Stream>
void write_basetype(lua_State* L, int index, int type, Stream& stream);

/// Writes "<name>: 0x<address>", where the name is the metatable's `__name`
/// when that is a string and the host's type name otherwise:
/// "function: 0x55d0c8a0", "QueltoLogger: 0x55d0c8f8". `kEscaped` escapes the
/// name, as it would be escaped inside quotes when `quoted`.
template <bool kEscaped = false, class Stream>
void write_unhandled_type(lua_State* L, int index, Stream& stream, bool quoted = false);

/// How a writer takes strings: raw up to their first NUL, whole and escaped
/// (write_escaped), or whole as the inside of a JSON string (write_json_escaped).
enum class Strings : unsigned char { Raw, Escaped, Json };

/// `write_unhandled_type` with the name taken as `kStrings` says.
template <Strings kStrings, class Stream>
void write_opaque(lua_State* L, int index, Stream& stream, bool quoted = false);

/// The most bytes `exact_float` writes: "-2.2250738585072014e-308" and ".0".
inline constexpr std::size_t kExactFloatSize = 32;

/// Writes the finite `value` at `out` in the shortest form that reads back as
/// the same double, whatever the locale, with ".0" added where that form
/// would read as an integer: 0.1, 1e+16, 3.0, -0.0, 1152921504606846976.0.
/// Returns the end.
inline char* exact_float(double value, char* out);

/// Writes the float `value` as the line format does: `exact_float`, and NaN
/// and the infinities as `0/0`, `1/0` and `-1/0`, which Lua reads back as them.
template <class Stream>
void write_lua_float(double value, Stream& stream);

// ---------------------------------------------------------------------------

namespace detail {

template <class Stream>
void write_cstring(const char* text, Stream& stream) {
  if (text == nullptr) {
    stream.setstate(std::ios_base::badbit);
    return;
  }
  stream.write(text, static_cast<std::streamsize>(std::strlen(text)));
}

/// The string at `index` as `kStrings` says.
template <Strings kStrings, class Stream>
void write_string(lua_State* L, int index, bool quoted, Stream& stream) {
  if constexpr (kStrings == Strings::Raw) {
    write_cstring(lua_tolstring(L, index, nullptr), stream);
  } else {
    std::size_t size = 0;
    const char* text = lua_tolstring(L, index, &size);
    if (text == nullptr) {
      stream.setstate(std::ios_base::badbit);
    } else if constexpr (kStrings == Strings::Json) {
      write_json_escaped(text, size, stream);
    } else {
      write_escaped(text, size, quoted, stream);
    }
  }
}

template <bool kEscaped, class Stream>
void write_string(lua_State* L, int index, bool quoted, Stream& stream) {
  write_string<kEscaped ? Strings::Escaped : Strings::Raw>(L, index, quoted, stream);
}

}  // namespace detail

template <bool kEscaped, bool kExact, class Stream>
void write_basetype(lua_State* L, int index, int type, Stream& stream) {
  switch (type) {
    case lua::Nil:
      stream.write("nil", 3);
      break;
    case lua::Boolean:
      if (lua_toboolean(L, index)) {
        stream.write("true", 4);
      } else {
        stream.write("false", 5);
      }
      break;
    case lua::Number:
      if (long long integer = 0; lua::integer_value(L, index, &integer)) {
        stream << integer;
      } else if constexpr (kExact) {
        write_lua_float(static_cast<double>(lua_tonumberx(L, index, nullptr)), stream);
      } else {
        stream << static_cast<double>(lua_tonumberx(L, index, nullptr));
      }
      break;
    case lua::String:
      detail::write_string<kEscaped>(L, index, false, stream);
      break;
    default:
      write_unhandled_type<kEscaped>(L, index, stream);
  }
}

template <bool kEscaped, class Stream>
void write_unhandled_type(lua_State* L, int index, Stream& stream, bool quoted) {
  write_opaque<kEscaped ? Strings::Escaped : Strings::Raw>(L, index, stream, quoted);
}

template <Strings kStrings, class Stream>
void write_opaque(lua_State* L, int index, Stream& stream, bool quoted) {
  index = lua_absindex(L, index);
  if (lua::push_name(L, index)) {  // the __name text
    detail::write_string<kStrings>(L, -1, quoted, stream);
    lua_pop(L, 1);
  } else {
    detail::write_cstring(lua_typename(L, lua_type(L, index)), stream);
  }
  stream.write(": 0x", 4);
  write_address(stream, reinterpret_cast<std::uintptr_t>(lua_topointer(L, index)));
}

inline char* exact_float(double value, char* out) {
  char* end = std::to_chars(out, out + kExactFloatSize - 2, value).ptr;
  if (std::find_if(out, end, [](char c) { return c == '.' || c == 'e'; }) == end) {
    *end++ = '.';
    *end++ = '0';
  }
  return end;
}

template <class Stream>
void write_lua_float(double value, Stream& stream) {
  if (std::isnan(value)) {
    stream.write("0/0", 3);
  } else if (std::isinf(value)) {
    if (value < 0) {
      stream.write("-1/0", 4);
    } else {
      stream.write("1/0", 3);
    }
  } else {
    char text[kExactFloatSize];
    stream.write(text, exact_float(value, text) - text);
  }
}

}  // namespace quelto::utils
