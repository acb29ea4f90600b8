// The walk every table format shares: a table opened for its elements, the
// one loop over them, the dispatch of each element's value, and the object
// writer that asks `__tostring` first. A format says only what it writes
// (write_dump.h, write_line.h, write_json.h), as a class with the members
// below; one object of it is made, from the table's traverser, for each
// table written.
//
//   explicit Format(const TableTraverser& traverser);
//   Order open(lua_State* L, Stream&);   the table's opening text, and the order
//                                        of its elements; the table copy, first
//                                        key and value are on the stack
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
// Tables are read raw, in the order the format's `open` chose: as `lua_next`
// yields the elements, by index from 1 to the length, or with sorted keys
// (sorted_keys.h). A table that encloses the one being written is a cycle; a
// table that the depth bound (depth_guard.h) or the Lua stack has no room for
// is the stack-limit marker.
#pragma once

#include <cstddef>
#include <ios>

#include "../lua/protected.h"
#include "../lua/types.h"
#include "constants.h"
#include "depth_guard.h"
#include "sorted_keys.h"
#include "stream_ops.h"
#include "table_traverser.h"

namespace quelto::utils {

/// The order in which a table's elements are written.
enum class Order : unsigned char {
  Next,      // as lua_next yields them
  Sequence,  // by index from 1 to the length: for a table whose keys are exactly those
  Sorted,    // as SortedKeys sorts them
};

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
/// copy, and a protected call (function and argument) on top of it; one more
/// for the sorted order's table of keys.
constexpr int kElementSlots = 4;

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

/// Writes the element whose value sits under the key copy on top, and pops
/// both: the format's key text, then the value.
template <class Format, class Stream>
inline void write_element(lua_State* L, const TableTraverser& traverser, Format& format,
                          Stream& stream) {
  format.key(L, stream);
  write_element_value<Format>(L, traverser, stream);
  lua_pop(L, 2);  // key copy and value
}

/// Writes every element of the table that `open_table` opened, from the key
/// and value on top of the table copy on, in `order`; returns with only the
/// copy left. Stops after the element in which a bound cut the output.
/// Where an element ran Lua code (a metamethod), `lua::next` checks that the
/// key is still in the table before it asks for the next one; the other
/// orders read the table with raw lookups, which a changed table cannot
/// fail: an element gone by then is written as nil by index, and left out
/// when sorted.
template <class Format, class Stream>
void write_elements(lua_State* L, const TableTraverser& traverser, Format& format, Order order,
                    Stream& stream) {
  if (order == Order::Next) {
    const unsigned long& calls_made = lua::protected_calls();
    for (;;) {
      const unsigned long calls = calls_made;
      lua_pushvalue(L, -2);  // key copy: stack is table copy, key, value, key copy
      write_element(L, traverser, format, stream);
      if (is_full(stream)) {
        lua_pop(L, 1);  // key
        return;
      }
      if (lua::next(L, -2, calls != calls_made) == 0) return;  // key popped
      format.separator(stream);
    }
  }
  lua_pop(L, 2);  // the first key and value: stack is table copy
  const int table = lua_gettop(L);
  if (order == Order::Sequence) {
    const auto length = static_cast<lua_Integer>(lua_rawlen(L, table));
    for (lua_Integer i = 1; i <= length && !is_full(stream); ++i) {
      if (i > 1) format.separator(stream);
      lua_rawgeti(L, table, i);  // value
      lua_pushinteger(L, i);     // key copy
      write_element(L, traverser, format, stream);
    }
    return;
  }
  SortedKeys keys;
  keys.add(L, table, 0);  // stack: table copy, keys
  keys.sort();
  bool first = true;
  for (const SortedKeys::Entry& entry : keys.entries()) {
    if (is_full(stream)) break;
    SortedKeys::push_key(L, entry);
    lua_rawget(L, table);  // value
    if (lua_isnil(L, -1)) {
      lua_pop(L, 1);  // a key that Lua code removed meanwhile
      continue;
    }
    if (!first) format.separator(stream);
    first = false;
    SortedKeys::push_key(L, entry);  // key copy
    write_element(L, traverser, format, stream);
  }
  lua_pop(L, 1);  // the keys
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
  const Order order = format.open(L, stream);
  detail::write_elements(L, traverser, format, order, stream);
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
