// The table dump: a table and everything reachable through its values, as
// indented multi-line text.
//
//   {
//     "x",
//     2.5,
//     name = {
//       true,
//       "y"
//     }
//   }
//
// Integer keys are not shown, float keys as "[0.5] = ", string keys bare or as
// ["two words"] = , other keys in their opaque form. Tables are read raw with
// `lua_next`, in the order it yields. A table that encloses the one being
// written is "<cycle>"; a table the Lua stack or the depth bound has no room
// for is "{<stack limit>}".
//
// `kEscaped` writes every string of the dump escaped (write_escaped.h): the
// dump's own newlines and indentation stay, but no string starts a line.
#pragma once

#include <cstring>
#include <string_view>

#include "../lua/protected.h"
#include "constants.h"
#include "depth_guard.h"
#include "table_traverser.h"
#include "write_basetype.h"

namespace quelto::utils {

/// Writes the table at `index` (absolute or relative) from "{" to "}" at the
/// level and with the indent of `traverser`. Leaves the Lua stack as it found it.
/// Stops once a bound cut the output (`is_full`).
template <bool kEscaped = false, class Stream>
void write_table(lua_State* L, int index, const TableTraverser& traverser, Stream& stream);

/// Writes the elements of the table copy below the first key and value that a
/// successful `lua_next` left on the stack; returns with only the copy left.
template <bool kEscaped = false, class Stream>
void _write_table_elements(lua_State* L, const TableTraverser& traverser, Stream& stream);

/// Writes a table, full or light userdata: through its `__tostring`, as a
/// dump, or in its opaque form. At the top level (level 0 of `traverser`) the
/// `__tostring` text is written as it is, followed by a line end, and an
/// opaque value bare; inside a table the text is quoted, its newlines
/// indented, and an opaque value is written as "<opaque text>".
template <bool kEscaped = false, class Stream>
void write_object(lua_State* L, int index, int type, const TableTraverser& traverser,
                  Stream& stream);

// ---------------------------------------------------------------------------

namespace detail {

/// Stack slots one element needs beyond the table copy, key and value: the key
/// copy, and a protected call (function and argument) on top of it.
constexpr int kElementSlots = 3;

template <class Stream, std::size_t N>
void put(Stream& stream, const char (&text)[N]) {
  stream.write(text, N - 1);
}

template <class Stream>
void put(Stream& stream, std::string_view text) {
  stream.write(text.data(), static_cast<std::streamsize>(text.size()));
}

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

/// The key text of the element whose key copy is on top.
template <bool kEscaped, class Stream>
void write_key(lua_State* L, Stream& stream) {
  switch (lua_type(L, -1)) {
    case lua::Number:
      if (long long integer = 0; lua::integer_value(L, -1, &integer)) return;  // value alone
      put(stream, "[");
      stream << static_cast<double>(lua_tonumberx(L, -1, nullptr));
      put(stream, "] = ");
      return;
    case lua::String: {
      if constexpr (kEscaped) {
        std::size_t size = 0;
        const char* key = lua_tolstring(L, -1, &size);
        if (key == nullptr) {
          stream.setstate(std::ios_base::badbit);
        } else if (needs_brackets(key, size)) {
          put(stream, "[\"");
          write_escaped(key, size, true, stream);
          put(stream, "\"]");
        } else {
          stream.write(key, static_cast<std::streamsize>(size));
        }
        put(stream, " = ");
        return;
      }
      const char* key = lua_tolstring(L, -1, nullptr);
      if (key == nullptr) {
        stream.setstate(std::ios_base::badbit);
      } else if (std::strchr(key, '\n') != nullptr) {
        put(stream, "[\"");
        write_replacing_newlines(key, kEscapedNewline, "", stream);
        put(stream, "\"]");
      } else if (std::strchr(key, ' ') != nullptr) {
        put(stream, "[\"");
        stream.write(key, static_cast<std::streamsize>(std::strlen(key)));
        put(stream, "\"]");
      } else {
        stream.write(key, static_cast<std::streamsize>(std::strlen(key)));
      }
      put(stream, " = ");
      return;
    }
    case lua::Boolean:
      put(stream, "[\"");
      write_basetype(L, -1, lua::Boolean, stream);
      put(stream, "\"] = ");
      return;
    default:
      put(stream, "[\"");
      write_unhandled_type<kEscaped>(L, -1, stream, true);
      put(stream, "\"] = ");
      return;
  }
}

/// The value text of the element whose value sits under the key copy. A
/// table or userdata goes to `write_nested` (the dump's object writer, or the
/// line format's), with its traverser one level deeper.
template <bool kEscaped, class Stream, class WriteNested>
void write_value(lua_State* L, const TableTraverser& traverser, Stream& stream,
                 WriteNested write_nested) {
  const int type = lua_type(L, -2);
  switch (type) {
    case lua::Table:
      if (traverser.check_table_cycle(L, -2)) {
        put(stream, "<cycle>");
        return;
      }
      [[fallthrough]];
    case lua::Userdata:
    case lua::LightUserdata: {
      const TableTraverser nested = traverser.create_next_level(L, -2);
      write_nested(L, -2, type, nested, stream);
      return;
    }
    case lua::String:
      put(stream, "\"");
      write_string<kEscaped>(L, -2, true, stream);
      put(stream, "\"");
      return;
    default:  // boolean, number, function, thread
      write_basetype<kEscaped>(L, -2, type, stream);
      return;
  }
}

/// A value with no text of its own: bare at the top level, as "<opaque text>"
/// inside a table.
template <bool kEscaped, class Stream>
void write_opaque(lua_State* L, int index, bool nested, Stream& stream) {
  if (nested) put(stream, "<");
  write_unhandled_type<kEscaped>(L, index, stream);
  if (nested) put(stream, ">");
}

/// The text a `__tostring` left on top, with its size: null unless it is a
/// string (a number result is already converted).
inline const char* tostring_text(lua_State* L, std::size_t* size) {
  return lua_type(L, -1) == lua::String ? lua_tolstring(L, -1, size) : nullptr;
}

/// Opens the table at `index` for its elements: returns true with the table
/// copy, the first key and its value pushed. Otherwise writes "{}" for an
/// empty table, or the stack-limit marker where `depth` or the Lua stack has
/// no room, and returns false with the stack as it found it.
template <class Stream>
bool open_table(lua_State* L, int index, const DepthGuard& depth, Stream& stream) {
  if (!depth.admitted() || !lua_checkstack(L, 2)) {
    put(stream, "{<stack limit>}");
    return false;
  }
  lua_pushvalue(L, index);  // table copy
  lua_pushnil(L);           // first key
  if (lua_next(L, -2) == 0) {
    put(stream, "{}");
    lua_pop(L, 1);  // table copy
    return false;
  }
  // stack: table copy, key, value
  if (!lua_checkstack(L, kElementSlots)) {
    lua_pop(L, 3);
    put(stream, "{<stack limit>}");
    return false;
  }
  return true;
}

}  // namespace detail

template <bool kEscaped, class Stream>
void write_table(lua_State* L, int index, const TableTraverser& traverser, Stream& stream) {
  const DepthGuard depth;
  if (!detail::open_table(L, index, depth, stream)) return;
  _write_table_elements<kEscaped>(L, traverser, stream);
  lua_pop(L, 1);  // table copy
}

template <bool kEscaped, class Stream>
void _write_table_elements(lua_State* L, const TableTraverser& traverser, Stream& stream) {
  const std::string_view indent = traverser.indent();
  const unsigned long& calls_made = lua::protected_calls();
  detail::put(stream, "{");
  for (;;) {
    write_newline(stream);
    detail::put(stream, indent);
    const unsigned long calls = calls_made;
    lua_pushvalue(L, -2);  // key copy: stack is table copy, key, value, key copy
    detail::write_key<kEscaped>(L, stream);
    detail::write_value<kEscaped>(
        L, traverser, stream,
        [](lua_State* L, int index, int type, const TableTraverser& nested, Stream& stream) {
          write_object<kEscaped>(L, index, type, nested, stream);
        });
    lua_pop(L, 2);  // key copy and value
    if (is_full(stream)) {
      lua_pop(L, 1);  // key
      break;
    }
    if (lua::next(L, -2, calls != calls_made) == 0) break;  // key popped
    detail::put(stream, ",");
  }
  write_newline(stream);
  detail::put(stream, indent.substr(0, static_cast<std::size_t>(traverser.level()) * 2));
  detail::put(stream, "}");
}

namespace detail {

/// The body of the object writers of both formats. `write_table` writes a
/// table that has no `__tostring`; `line_end` is whether a top-level
/// `__tostring` text ends with a line end (the dump) or not (the line format).
template <bool kEscaped, class Stream, class WriteTable>
void write_object_with(lua_State* L, int index, int type, const TableTraverser& traverser,
                       Stream& stream, bool line_end, WriteTable write_table) {
  if (is_full(stream)) return;  // no metamethod runs for a text cut already
  index = lua_absindex(L, index);
  const bool nested = traverser.level() != 0;
  if (lua::call_tostring(L, index)) {  // result on top
    std::size_t size = 0;
    const char* text = tostring_text(L, &size);
    if (text == nullptr) {
      // Neither a string nor a number: the message ends here, but later
      // values are still visited.
      stream.setstate(std::ios_base::badbit);
    } else if (kEscaped) {
      if (nested) put(stream, "\"");
      write_escaped(text, size, nested, stream);
      if (nested) put(stream, "\"");
      if (!nested && line_end) write_newline(stream);
    } else if (!nested) {
      stream.write(text, static_cast<std::streamsize>(std::strlen(text)));
      write_newline(stream);
    } else {
      put(stream, "\"");
      write_replacing_newlines(text, kNewline, traverser.indent(), stream);
      put(stream, "\"");
    }
    lua_pop(L, 1);  // the result
    return;
  }
  if (type == lua::Table) {
    write_table(L, index, traverser, stream);
  } else {
    write_opaque<kEscaped>(L, index, nested, stream);
  }
}

}  // namespace detail

template <bool kEscaped, class Stream>
void write_object(lua_State* L, int index, int type, const TableTraverser& traverser,
                  Stream& stream) {
  detail::write_object_with<kEscaped>(
      L, index, type, traverser, stream, true,
      [](lua_State* L, int index, const TableTraverser& traverser, Stream& stream) {
        write_table<kEscaped>(L, index, traverser, stream);
      });
}

}  // namespace quelto::utils
