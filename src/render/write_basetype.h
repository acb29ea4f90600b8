// Writers for scalar values and for values that have no text of their own.
#pragma once

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
/// `kEscaped` writes strings whole and escaped instead (write_escaped.h).
template <bool kEscaped = false, class Stream>
void write_basetype(lua_State* L, int index, int type, Stream& stream);

/// Writes "<name>: 0x<address>", where the name is the metatable's `__name`
/// when that is a string and the host's type name otherwise:
/// "function: 0x55d0c8a0", "QueltoLogger: 0x55d0c8f8". `kEscaped` escapes the
/// name, as it would be escaped inside quotes when `quoted`.
template <bool kEscaped = false, class Stream>
void write_unhandled_type(lua_State* L, int index, Stream& stream, bool quoted = false);

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

/// The string at `index`: raw up to its first NUL, or whole and escaped.
template <bool kEscaped, class Stream>
void write_string(lua_State* L, int index, bool quoted, Stream& stream) {
  if constexpr (kEscaped) {
    std::size_t size = 0;
    const char* text = lua_tolstring(L, index, &size);
    if (text == nullptr) {
      stream.setstate(std::ios_base::badbit);
    } else {
      write_escaped(text, size, quoted, stream);
    }
  } else {
    write_cstring(lua_tolstring(L, index, nullptr), stream);
  }
}

}  // namespace detail

template <bool kEscaped, class Stream>
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
  index = lua_absindex(L, index);
  if (lua::push_name(L, index)) {  // the __name text
    detail::write_string<kEscaped>(L, -1, quoted, stream);
    lua_pop(L, 1);
  } else {
    detail::write_cstring(lua_typename(L, lua_type(L, index)), stream);
  }
  stream.write(": 0x", 4);
  write_address(stream, reinterpret_cast<std::uintptr_t>(lua_topointer(L, index)));
}

}  // namespace quelto::utils
