// JSON values: what the JSON format writes for a value inside a record, a
// table nested to any depth included.
//
//   {"x", 2.5, name = {true, "y"}, [404] = 12}  ->  {"1":"x","2":2.5,"name":[true,"y"],"404":12}
//   {"a", "b"}                                   ->  ["a","b"]
//
// A table whose keys are exactly 1..n is an array, written by index; every
// other table is an object whose member names are its keys as text: a
// string as it is, a number as the record writes it, a boolean as true or
// false, any other key in its opaque form. An empty table is an array.
// Strings are escaped as JSON strings (write_json_escaped); integers are
// JSON integers, floats the shortest text that reads back as the same double
// (exact_float), NaN and the infinities the strings "NaN", "Infinity" and
// "-Infinity". A `__tostring` text, an opaque value ("function: 0x..."),
// a cycle and the stack limit are strings with the texts the dump writes.
#pragma once

#include <cmath>

#include "table_walk.h"
#include "write_basetype.h"

namespace quelto::utils {

/// Writes a number as the text of a JSON number (NaN and the infinities as
/// their names, which are no JSON numbers: the caller quotes them).
template <class Stream>
void write_json_number(lua_State* L, int index, Stream& stream);

/// Writes a scalar (no table or userdata) as a JSON value: nil as null.
template <class Stream>
void write_json_scalar(lua_State* L, int index, int type, Stream& stream);

/// Writes the key on top as the text of a member name, without its quotes.
template <class Stream>
void write_json_key_text(lua_State* L, Stream& stream);

/// The JSON values as a format of table_walk.h; `kSorted` writes the
/// members of objects with sorted keys (sorted_keys.h).
template <bool kSorted>
class JsonFormat {
 public:
  explicit JsonFormat(const TableTraverser&) {}

  /// "[" for a table whose keys are exactly 1..n (its length), else "{".
  template <class Stream>
  Order open(lua_State* L, Stream& stream);
  template <class Stream>
  void key(lua_State* L, Stream& stream) {
    if (array_) return;
    put(stream, "\"");
    write_json_key_text(L, stream);
    put(stream, "\":");
  }
  template <class Stream>
  void separator(Stream& stream) {
    put(stream, ",");
  }
  template <class Stream>
  void close(Stream& stream) {
    put(stream, array_ ? "]" : "}");
  }
  template <class Stream>
  static void empty(Stream& stream) {
    put(stream, "[]");
  }
  template <class Stream>
  static void marker(std::string_view text, Stream& stream) {
    put(stream, "\"");
    put(stream, text);
    put(stream, "\"");
  }
  template <class Stream>
  static void scalar(lua_State* L, int index, int type, Stream& stream) {
    write_json_scalar(L, index, type, stream);
  }
  template <class Stream>
  static void text(const char* text, std::size_t size, const TableTraverser&, Stream& stream) {
    put(stream, "\"");
    write_json_escaped(text, size, stream);
    put(stream, "\"");
  }
  template <class Stream>
  static void opaque(lua_State* L, int index, bool, Stream& stream) {
    put(stream, "\"");
    write_opaque<Strings::Json>(L, index, stream);
    put(stream, "\"");
  }

 private:
  bool array_ = false;
};

// ---------------------------------------------------------------------------

namespace detail {

/// A float as JSON writes it, its name in quotes when `quoted` and it has one.
template <class Stream>
void write_json_float(double value, bool quoted, Stream& stream) {
  if (std::isfinite(value)) {
    char text[kExactFloatSize];
    stream.write(text, exact_float(value, text) - text);
    return;
  }
  if (quoted) put(stream, "\"");
  if (std::isnan(value)) {
    put(stream, "NaN");
  } else {
    put(stream, value < 0 ? std::string_view("-Infinity") : std::string_view("Infinity"));
  }
  if (quoted) put(stream, "\"");
}

template <class Stream>
void write_json_number(lua_State* L, int index, bool quoted, Stream& stream) {
  if (long long integer = 0; lua::integer_value(L, index, &integer)) {
    stream << integer;
  } else {
    write_json_float(static_cast<double>(lua_tonumberx(L, index, nullptr)), quoted, stream);
  }
}

}  // namespace detail

template <class Stream>
void write_json_number(lua_State* L, int index, Stream& stream) {
  detail::write_json_number(L, index, false, stream);
}

template <class Stream>
void write_json_scalar(lua_State* L, int index, int type, Stream& stream) {
  switch (type) {
    case lua::Nil:
      put(stream, "null");
      break;
    case lua::Boolean:
      write_basetype(L, index, lua::Boolean, stream);
      break;
    case lua::Number:
      detail::write_json_number(L, index, true, stream);
      break;
    case lua::String:
      put(stream, "\"");
      detail::write_string<Strings::Json>(L, index, true, stream);
      put(stream, "\"");
      break;
    default:
      put(stream, "\"");
      write_opaque<Strings::Json>(L, index, stream);
      put(stream, "\"");
  }
}

template <class Stream>
void write_json_key_text(lua_State* L, Stream& stream) {
  switch (lua_type(L, -1)) {
    case lua::String:
      detail::write_string<Strings::Json>(L, -1, true, stream);
      break;
    case lua::Number:
      write_json_number(L, -1, stream);
      break;
    case lua::Boolean:
      write_basetype(L, -1, lua::Boolean, stream);
      break;
    default:
      write_opaque<Strings::Json>(L, -1, stream);
  }
}

template <bool kSorted>
template <class Stream>
Order JsonFormat<kSorted>::open(lua_State* L, Stream& stream) {
  // stack: table copy, first key, value. A table with a length may be an
  // array: it is one when every key is an integer from 1 to the length.
  const int table = lua_gettop(L) - 2;
  const auto length = static_cast<long long>(lua_rawlen(L, table));
  if (length > 0) {
    long long keys = 0;
    lua_pushnil(L);
    while (lua_next(L, table) != 0) {  // no Lua code runs here: a raw walk
      long long integer = 0;
      lua_pop(L, 1);  // the value
      if (lua_type(L, -1) != lua::Number || !lua::integer_value(L, -1, &integer) || integer < 1 ||
          integer > length) {
        lua_pop(L, 1);  // the key
        keys = -1;
        break;
      }
      ++keys;
    }
    array_ = keys == length;
  }
  put(stream, array_ ? "[" : "{");
  if (array_) return Order::Sequence;
  return kSorted ? Order::Sorted : Order::Next;
}

}  // namespace quelto::utils
