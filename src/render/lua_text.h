// What the two formats that write Lua-like text share (write_dump.h,
// write_line.h): which string keys stand bare and how the others are
// bracketed, element values with their strings quoted, markers and empty
// tables as they are, opaque values in angle brackets inside a table.
#pragma once

#include <cstddef>
#include <cstring>
#include <ios>
#include <string_view>

#include "../lua/types.h"
#include "constants.h"
#include "stream_ops.h"
#include "write_basetype.h"
#include "write_escaped.h"

namespace quelto::utils {

/// Which string keys a format writes bare (`name = 1`) rather than in
/// brackets (`["two words"] = 1`).
enum class BareKeys : unsigned char {
  Raw,       // the dump: no space and no newline before the key's first NUL
  Escaped,   // the escaped dump: no space and nothing that escaping changes
  LuaNames,  // the line format: a Lua name that is no reserved word
};

/// True when `rule` lets the `size` bytes at `key` stand bare.
inline bool is_bare_key(const char* key, std::size_t size, BareKeys rule);

/// True when the key can be written bare in Lua: a name that is no reserved word.
inline bool is_lua_name(const char* text, std::size_t size);

/// The members of a format class (table_walk.h) that the dump and the line
/// format share. `kEscaped` writes every string escaped (write_escaped.h);
/// `kExact` every float as `write_lua_float` does.
template <bool kEscaped, bool kExact = false>
struct LuaTextFormat {
  template <class Stream>
  static void empty(Stream& stream) {
    put(stream, "{}");
  }
  template <class Stream>
  static void marker(std::string_view text, Stream& stream) {
    put(stream, text);
  }
  /// Strings in double quotes; other values as `write_basetype` writes them.
  template <class Stream>
  static void scalar(lua_State* L, int index, int type, Stream& stream);
  /// Bare at the top level, as "<opaque text>" inside a table.
  template <class Stream>
  static void opaque(lua_State* L, int index, bool nested, Stream& stream);
};

// ---------------------------------------------------------------------------

namespace detail {

/// Writes `text` with every newline replaced by `newline` followed by `after`.
template <class Stream>
void write_replacing_newlines(const char* text, std::string_view newline, std::string_view after,
                              Stream& stream) {
  for (;;) {
    const char* end = std::strchr(text, '\n');
    if (end == nullptr) {
      stream.write(text, static_cast<std::streamsize>(std::strlen(text)));
      return;
    }
    stream.write(text, end - text);
    put(stream, newline);
    put(stream, after);
    text = end + 1;
  }
}

/// Writes the `size` bytes at `text` escaped, in double quotes when `quoted`.
template <class Stream>
void write_escaped_text(const char* text, std::size_t size, bool quoted, Stream& stream) {
  if (quoted) put(stream, "\"");
  write_escaped(text, size, quoted, stream);
  if (quoted) put(stream, "\"");
}

/// The string key whose copy is on top, bare or in brackets as `kRule` says,
/// then " = ". Bracketed keys are escaped, but by the `Raw` rule, which
/// writes the key up to its first NUL and only its newlines as "\n".
template <BareKeys kRule, class Stream>
inline void write_string_key(lua_State* L, Stream& stream) {
  std::size_t size = 0;
  const char* key = lua_tolstring(L, -1, &size);
  if (key == nullptr) {
    stream.setstate(std::ios_base::badbit);
    return;
  }
  if constexpr (kRule == BareKeys::Raw) size = std::strlen(key);
  if (is_bare_key(key, size, kRule)) {
    stream.write(key, static_cast<std::streamsize>(size));
  } else if constexpr (kRule == BareKeys::Raw) {
    put(stream, "[\"");
    write_replacing_newlines(key, kEscapedNewline, "", stream);
    put(stream, "\"]");
  } else {
    put(stream, "[");
    write_escaped_text(key, size, true, stream);
    put(stream, "]");
  }
  put(stream, " = ");
}

/// The key on top, of type `type`, but an integer, and then " = ": a float
/// in brackets (as `write_lua_float` writes it for `kExact`), a string as
/// `write_string_key` writes it, a boolean in brackets (and quotes, for
/// `quoted_booleans`), any other value as its quoted opaque text in brackets,
/// escaped but by the `Raw` rule.
template <BareKeys kRule, bool kExact = false, class Stream>
inline void write_key(lua_State* L, int type, bool quoted_booleans, Stream& stream) {
  if (type == lua::String) {
    write_string_key<kRule>(L, stream);
    return;
  }
  const bool quoted = type == lua::Boolean ? quoted_booleans : type != lua::Number;
  put(stream, "[");
  if (quoted) put(stream, "\"");
  if (type == lua::Number) {
    const auto number = static_cast<double>(lua_tonumberx(L, -1, nullptr));
    if constexpr (kExact) {
      write_lua_float(number, stream);
    } else {
      stream << number;
    }
  } else if (type == lua::Boolean) {
    write_basetype(L, -1, lua::Boolean, stream);
  } else {
    write_unhandled_type<kRule != BareKeys::Raw>(L, -1, stream, true);
  }
  if (quoted) put(stream, "\"");
  put(stream, "] = ");
}

}  // namespace detail

inline bool is_bare_key(const char* key, std::size_t size, BareKeys rule) {
  switch (rule) {
    case BareKeys::Raw:
      return std::strpbrk(key, " \n") == nullptr;
    case BareKeys::Escaped:
      return !escaping_changes(key, size, true);
    case BareKeys::LuaNames:
      return is_lua_name(key, size);
  }
  return false;
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

template <bool kEscaped, bool kExact>
template <class Stream>
inline void LuaTextFormat<kEscaped, kExact>::scalar(lua_State* L, int index, int type,
                                                    Stream& stream) {
  if (type == lua::String) {
    put(stream, "\"");
    detail::write_string<kEscaped>(L, index, true, stream);
    put(stream, "\"");
  } else {
    write_basetype<kEscaped, kExact>(L, index, type, stream);
  }
}

template <bool kEscaped, bool kExact>
template <class Stream>
void LuaTextFormat<kEscaped, kExact>::opaque(lua_State* L, int index, bool nested, Stream& stream) {
  if (nested) put(stream, "<");
  write_unhandled_type<kEscaped>(L, index, stream);
  if (nested) put(stream, ">");
}

}  // namespace quelto::utils
