// The line format: the whole message on one line, tables as Lua table
// constructors, every string escaped (write_escaped.h).
//
//   {"x", 2.5, name = {true, "y"}, [404] = 12, ["two words"] = 1, [true] = 1}
//
// Elements come in the order `lua_next` yields, as in the dump, or sorted
// (`kSorted`, sorted_keys.h). An integer key
// is left out exactly when it is the next position (one more than the keys
// left out before it), so that Lua reads the text back into the same table;
// every other key is written: names bare, other strings, numbers and booleans
// in brackets, other values as their quoted opaque text. The dump's markers
// stand for cycles, the stack limit and opaque values. Floats are written
// exactly, in the shortest form that reads back as the same double (with ".0"
// where it would read as an integer), and NaN and the infinities as 0/0, 1/0
// and -1/0: `load` reads every number back as it was.
#pragma once

#include "lua_text.h"
#include "table_walk.h"

namespace quelto::utils {

/// Writes a table, full or light userdata in the line format: through its
/// `__tostring` (escaped; quoted inside a table), as a constructor, or in
/// its opaque form (bare at the top level, "<opaque text>" inside a table).
/// Stops once a bound cut the output. Leaves the Lua stack as it found it.
template <bool kSorted = false, class Stream>
void write_line_object(lua_State* L, int index, int type, const TableTraverser& traverser,
                       Stream& stream);

/// The line format as a format of table_walk.h.
template <bool kSorted>
class LineFormat : public LuaTextFormat<true, true> {
 public:
  explicit LineFormat(const TableTraverser&) {}

  template <class Stream>
  Order open(lua_State*, Stream& stream) {
    put(stream, "{");
    return kSorted ? Order::Sorted : Order::Next;
  }
  template <class Stream>
  void separator(Stream& stream) {
    put(stream, ", ");
  }
  template <class Stream>
  void close(Stream& stream) {
    put(stream, "}");
  }
  template <class Stream>
  void key(lua_State* L, Stream& stream);
  /// Escaped; in quotes inside a table.
  template <class Stream>
  static void text(const char* text, std::size_t size, const TableTraverser& traverser,
                   Stream& stream) {
    detail::write_escaped_text(text, size, traverser.level() != 0, stream);
  }

 private:
  long long next_position_ = 1;  // the integer key that is left out
};

// ---------------------------------------------------------------------------

template <bool kSorted, class Stream>
void write_line_object(lua_State* L, int index, int type, const TableTraverser& traverser,
                       Stream& stream) {
  write_object_as<LineFormat<kSorted>>(L, index, type, traverser, stream);
}

template <bool kSorted>
template <class Stream>
void LineFormat<kSorted>::key(lua_State* L, Stream& stream) {
  const int type = lua_type(L, -1);
  if (long long integer = 0; type == lua::Number && lua::integer_value(L, -1, &integer)) {
    if (integer == next_position_) {
      ++next_position_;
      return;
    }
    put(stream, "[");
    stream << integer;
    put(stream, "] = ");
    return;
  }
  detail::write_key<BareKeys::LuaNames, true>(L, type, false, stream);
}

}  // namespace quelto::utils
