#include "message.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "../lua/native_stack.h"
#include "constants.h"
#include "json_message.h"
#include "table_traverser.h"
#include "write_basetype.h"
#include "write_dump.h"
#include "write_line.h"

namespace quelto::utils {
namespace {

enum class Form { Dump, EscapedDump, Line, SortedLine };

// One table or userdata argument (or the logger's fields) in `kForm`.
template <Form kForm>
void write_top_level_object(lua_State* L, int index, int type, MessageBuffer& message) {
  const TableTraverser top_level(L, index, 0, ' ');
  if constexpr (kForm == Form::Line || kForm == Form::SortedLine) {
    write_line_object<kForm == Form::SortedLine>(L, index, type, top_level, message);
  } else {
    write_object<kForm == Form::EscapedDump>(L, index, type, top_level, message);
  }
}

// One loop per form, so that the default one tests nothing per value beyond
// what it always did but the bound.
template <Form kForm>
void render(lua_State* L, int first, int fields, MessageBuffer& message) {
  const int top = lua_gettop(L);
  for (int i = first; i <= top && !message.full(); ++i) {
    const int type = lua_type(L, i);
    switch (type) {
      case lua::Table:
      case lua::Userdata:
      case lua::LightUserdata:
        write_top_level_object<kForm>(L, i, type, message);
        break;
      default:
        write_basetype<kForm != Form::Dump, kForm >= Form::Line>(L, i, type, message);
    }
  }
  if (fields != 0 && !message.full()) {
    put(message, " ");
    write_top_level_object<kForm>(L, fields, lua::Table, message);
  }
}

// The nearest Lua function on the stack above the log method into `where`:
// false when there is none. The module's own Lua methods (LuaJIT) are not
// the caller.
bool find_caller(lua_State* L, lua_Debug& where) {
  for (int level = 1; level < 8 && lua_getstack(L, level, &where) != 0; ++level) {
    if (lua_getinfo(L, "Sl", &where) == 0) return false;
    if (where.currentline > 0 && std::strcmp(where.source, kModuleChunkName) != 0) return true;
  }
  return false;
}

// The bound of a record cut at `style.max_bytes` (0: none): a JSON record
// needs room for the shortest cut record.
std::size_t bound_of(const Style& style) {
  if (style.max_bytes == 0 || style.format != Style::Format::Json) return style.max_bytes;
  return std::max(style.max_bytes, kLeastJsonBound);
}

}  // namespace

void render_arguments(lua_State* L, int first, MessageBuffer& message, const Style& style,
                      int fields) {
  const lua::RenderingFrame frame;  // where nesting is measured from on a fiber's stack
  const bool json = style.format == Style::Format::Json;
  if (style.max_bytes != 0) message.set_bound(bound_of(style));
  if (style.lazy && lua_checkstack(L, 3)) {
    for (int i = first, top = lua_gettop(L); i <= top; ++i) {
      if (lua_type(L, i) == lua::Function) lua::call_in_place(L, i);
    }
  }
  lua_Debug caller;
  const bool located = style.location && find_caller(L, caller);
  if (json) {
    Location location;
    if (located) location = {caller.short_src, caller.currentline};
    if (style.sort_keys) {
      write_json_message<true>(L, first, fields, location, message);
    } else {
      write_json_message<false>(L, first, fields, location, message);
    }
    return;
  }
  const bool escaped = style.escape || style.format == Style::Format::Line;
  if (located) {
    const char* file = caller.short_src;
    if (escaped) {
      write_escaped(file, std::strlen(file), false, message);
    } else {
      message << file;
    }
    put(message, ":");
    message << static_cast<long long>(caller.currentline);
    put(message, ": ");
  }
  if (style.format == Style::Format::Line) {
    if (style.sort_keys) {
      render<Form::SortedLine>(L, first, fields, message);
    } else {
      render<Form::Line>(L, first, fields, message);
    }
  } else if (style.escape) {
    render<Form::EscapedDump>(L, first, fields, message);
  } else {
    render<Form::Dump>(L, first, fields, message);
  }
}

std::string_view finished_text(MessageBuffer& message, const Style& style, std::string& closed) {
  if (style.format != Style::Format::Json || !(message.full() || message.bad())) {
    return message.text();
  }
  const std::size_t bound =
      style.max_bytes == 0 ? std::numeric_limits<std::size_t>::max() : bound_of(style);
  closed = close_json(message.text(), message.full(), bound);
  return closed;
}

}  // namespace quelto::utils
