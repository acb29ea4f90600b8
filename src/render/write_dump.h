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
// ["two words"] = , booleans as ["true"] = , other keys in their opaque form.
// Cycles, the stack limit and opaque values are written as table_walk.h
// says.
//
// `kEscaped` writes every string of the dump escaped (write_escaped.h): the
// dump's own newlines and indentation stay, but no string starts a line.
#pragma once

#include <cstring>

#include "lua_text.h"
#include "table_walk.h"

namespace quelto::utils {

/// Writes the table at `index` (absolute or relative) from "{" to "}" at the
/// level and with the indent of `traverser`. Leaves the Lua stack as it found it.
/// Stops once a bound cut the output (`is_full`).
template <bool kEscaped = false, class Stream>
void write_table(lua_State* L, int index, const TableTraverser& traverser, Stream& stream);

/// Writes a table, full or light userdata: through its `__tostring`, as a
/// dump, or in its opaque form. At the top level (level 0 of `traverser`) the
/// `__tostring` text is written as it is, followed by a line end, and an
/// opaque value bare; inside a table the text is quoted, its newlines
/// indented, and an opaque value is written as "<opaque text>".
template <bool kEscaped = false, class Stream>
void write_object(lua_State* L, int index, int type, const TableTraverser& traverser,
                  Stream& stream);

/// The dump as a format of table_walk.h: each element on a line of its own.
template <bool kEscaped>
class DumpFormat : public LuaTextFormat<kEscaped> {
 public:
  explicit DumpFormat(const TableTraverser& traverser) : traverser_(traverser) {}

  template <class Stream>
  Order open(lua_State*, Stream& stream) {
    put(stream, "{");
    start_line(traverser_.indent(), stream);
    return Order::Next;
  }
  template <class Stream>
  void separator(Stream& stream) {
    put(stream, ",");
    start_line(traverser_.indent(), stream);
  }
  template <class Stream>
  void close(Stream& stream) {
    const auto outer = static_cast<std::size_t>(traverser_.level()) * 2;
    start_line(std::string_view(traverser_.indent()).substr(0, outer), stream);
    put(stream, "}");
  }
  template <class Stream>
  void key(lua_State* L, Stream& stream);
  template <class Stream>
  static void text(const char* text, std::size_t size, const TableTraverser& traverser,
                   Stream& stream);

 private:
  template <class Stream>
  static void start_line(std::string_view indent, Stream& stream) {
    write_newline(stream);
    put(stream, indent);
  }

  const TableTraverser& traverser_;
};

// ---------------------------------------------------------------------------

template <bool kEscaped, class Stream>
void write_table(lua_State* L, int index, const TableTraverser& traverser, Stream& stream) {
  write_table_as<DumpFormat<kEscaped>>(L, index, traverser, stream);
}

template <bool kEscaped, class Stream>
void write_object(lua_State* L, int index, int type, const TableTraverser& traverser,
                  Stream& stream) {
  write_object_as<DumpFormat<kEscaped>>(L, index, type, traverser, stream);
}

template <bool kEscaped>
template <class Stream>
void DumpFormat<kEscaped>::key(lua_State* L, Stream& stream) {
  const int type = lua_type(L, -1);
  if (long long integer = 0; type == lua::Number && lua::integer_value(L, -1, &integer)) {
    return;  // the value alone
  }
  constexpr BareKeys kRule = kEscaped ? BareKeys::Escaped : BareKeys::Raw;
  detail::write_key<kRule>(L, type, true, stream);
}

/// At the top level the text as it is (escaped for `kEscaped`) and a line
/// end; inside a table in quotes, escaped, or else with its newlines indented.
template <bool kEscaped>
template <class Stream>
void DumpFormat<kEscaped>::text(const char* text, std::size_t size, const TableTraverser& traverser,
                                Stream& stream) {
  const bool nested = traverser.level() != 0;
  if constexpr (kEscaped) {
    detail::write_escaped_text(text, size, nested, stream);
  } else if (nested) {
    put(stream, "\"");
    detail::write_replacing_newlines(text, kNewline, traverser.indent(), stream);
    put(stream, "\"");
  } else {
    stream.write(text, static_cast<std::streamsize>(std::strlen(text)));
  }
  if (!nested) write_newline(stream);
}

}  // namespace quelto::utils
