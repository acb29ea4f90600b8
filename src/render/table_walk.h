// The walk every table format shares: a table opened for its elements, the
// one loop over them, the dispatch of each element's value, and the object
// writer that asks `__tostring` first. A format says only what it writes
// (write_dump.h, write_line.h), as a class with the members below; one
// object of it is made, from the table's traverser, for each table written.
//
//   explicit Format(const TableTraverser& traverser);
//   void open(lua_State* L, Stream&);    the table's opening text; the table
//                                        copy, first key and value are on the stack
//   void key(lua_State* L, Stream&);     an element's key and what parts it
//                                        from the value, or nothing; the key copy on top
//   void separator(Stream&);             between two elements
//   void close(Stream&);                 the table's closing text
//   static void empty(Stream&);                         an empty table
//   static void marker(std::string_view, Stream&);      kCycleMarker, kStackLimitMarker
//   static void scalar(lua_State* L, int index, int type, Stream&);
//                                        an element value but a table or userdata
//   static void text(const char* text, std::size_t size, const TableTraverser&, Stream&);
//                                        a `__tostring` result at that level
//   static void opaque(lua_State* L, int index, bool nested, Stream&);
//                                        a value with no text of its own
//
// Tables are read raw with `lua_next`, in the order it yields. A table that
// encloses the one being written is a cycle; a table that the depth bound
// (depth_guard.h) or the Lua stack has no room for is the stack-limit marker.
#pragma once

#include <cstddef>
#include <ios>

#include "../lua/protected.h"
#include "../lua/types.h"
#include "constants.h"
#include "depth_guard.h"
#include "stream_ops.h"
#include "table_traverser.h"

namespace quelto::utils {

/// Writes the table at `index` (absolute or relative) in `Format`, at the
/// level of `traverser`. Leaves the Lua stack as it found it; stops once a
/// bound cut the output (`is_full`).
template <class Format, class Stream>
void write_table_as(lua_State* L, int index, const TableTraverser& traverser, Stream& stream);

/// Writes a table, full or light userdata in `Format`: its `__tostring` text,
/// else a table as `write_table_as` does, else its opaque form. A
/// `__tostring` result that is neither a string nor a number makes the
/// stream bad. Runs no metamethod once a bound cut the output.
template <class Format, class Stream>
void write_object_as(lua_State* L, int index, int type, const TableTraverser& traverser,
                     Stream& stream);

// ---------------------------------------------------------------------------

namespace detail {

/// Stack slots one element needs beyond the table copy, key and value: the key
/// copy, and a protected call (function and argument) on top of it.
constexpr int kElementSlots = 3;

/// Pushes the table copy, the first key and its value, and returns true;
/// otherwise writes the empty table or the stack-limit marker and returns
/// false with the stack as it found it.
template <class Format, class Stream>
bool open_table(lua_State* L, int index, const DepthGuard& depth, Stream& stream) {
  if (!depth.admitted() || !lua_checkstack(L, 2)) {
    Format::marker(kStackLimitMarker, stream);
    return false;
  }
  lua_pushvalue(L, index);  // table copy
  lua_pushnil(L);           // first key
  if (lua_next(L, -2) == 0) {
    lua_pop(L, 1);  // table copy
    Format::empty(stream);
    return false;
  }
  // stack: table copy, key, value
  if (!lua_checkstack(L, kElementSlots)) {
    lua_pop(L, 3);
    Format::marker(kStackLimitMarker, stream);
    return false;
  }
  return true;
}

/// The value of the element whose value sits under the key copy: a table or
/// userdata one level deeper, through `write_object_as`, else a scalar.
template <class Format, class Stream>
inline void write_element_value(lua_State* L, const TableTraverser& traverser, Stream& stream) {
  const int type = lua_type(L, -2);
  switch (type) {
    case lua::Table:
      if (traverser.check_table_cycle(L, -2)) {
        Format::marker(kCycleMarker, stream);
        return;
      }
      [[fallthrough]];
    case lua::Userdata:
    case lua::LightUserdata: {
      const TableTraverser nested = traverser.create_next_level(L, -2);
      write_object_as<Format>(L, -2, type, nested, stream);
      return;
    }
    default:  // nil cannot be a value: boolean, number, string, function, thread
      Format::scalar(L, -2, type, stream);
  }
}

/// Writes every element of the table that `open_table` opened, from the key
/// and value on top of the table copy on; returns with only the copy left.
/// Stops after the element in which a bound cut the output. Where an element
/// ran Lua code (a metamethod), `lua::next` checks that the key is still in
/// the table before it asks for the next one.
template <class Format, class Stream>
void write_elements(lua_State* L, const TableTraverser& traverser, Format& format, Stream& stream) {
  const unsigned long& calls_made = lua::protected_calls();
  for (;;) {
    const unsigned long calls = calls_made;
    lua_pushvalue(L, -2);  // key copy: stack is table copy, key, value, key copy
    format.key(L, stream);
    write_element_value<Format>(L, traverser, stream);
    lua_pop(L, 2);  // key copy and value
    if (is_full(stream)) {
      lua_pop(L, 1);  // key
      return;
    }
    if (lua::next(L, -2, calls != calls_made) == 0) return;  // key popped
    format.separator(stream);
  }
}

/// The text a `__tostring` left on top, with its size: null unless it is a
/// string (a number result is already converted).
inline const char* tostring_text(lua_State* L, std::size_t* size) {
  return lua_type(L, -1) == lua::String ? lua_tolstring(L, -1, size) : nullptr;
}

}  // namespace detail

template <class Format, class Stream>
void write_table_as(lua_State* L, int index, const TableTraverser& traverser, Stream& stream) {
  const DepthGuard depth;
  if (!detail::open_table<Format>(L, index, depth, stream)) return;
  Format format(traverser);
  format.open(L, stream);
  detail::write_elements(L, traverser, format, stream);
  format.close(stream);
  lua_pop(L, 1);  // table copy
}

template <class Format, class Stream>
void write_object_as(lua_State* L, int index, int type, const TableTraverser& traverser,
                     Stream& stream) {
  if (is_full(stream)) return;  // no metamethod runs for a text cut already
  index = lua_absindex(L, index);
  if (lua::call_tostring(L, index)) {  // result on top
    std::size_t size = 0;
    if (const char* text = detail::tostring_text(L, &size); text != nullptr) {
      Format::text(text, size, traverser, stream);
    } else {
      // The message ends here, but later values are still visited.
      stream.setstate(std::ios_base::badbit);
    }
    lua_pop(L, 1);  // the result
  } else if (type == lua::Table) {
    write_table_as<Format>(L, index, traverser, stream);
  } else {
    Format::opaque(L, index, traverser.level() != 0, stream);
  }
}

}  // namespace quelto::utils
