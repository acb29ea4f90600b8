#include "message.h"

#include "../lua/native_stack.h"
#include "table_traverser.h"
#include "write_basetype.h"
#include "write_dump.h"
#include "write_line.h"

namespace quelto::utils {
namespace {

enum class Form { Dump, EscapedDump, Line };

// One loop per form, so that the default one tests nothing per value beyond
// what it always did but the bound.
template <Form kForm>
void render(lua_State* L, int first, MessageBuffer& message) {
  const int top = lua_gettop(L);
  for (int i = first; i <= top && !message.full(); ++i) {
    const int type = lua_type(L, i);
    switch (type) {
      case lua::Table:
      case lua::Userdata:
      case lua::LightUserdata: {
        const TableTraverser top_level(L, i, 0, ' ');
        if constexpr (kForm == Form::Line) {
          write_line_object(L, i, type, top_level, message);
        } else {
          write_object<kForm == Form::EscapedDump>(L, i, type, top_level, message);
        }
        break;
      }
      default:
        write_basetype<kForm != Form::Dump>(L, i, type, message);
    }
  }
}

}  // namespace

void render_arguments(lua_State* L, int first, MessageBuffer& message, const Style& style) {
  const lua::RenderingFrame frame;  // where nesting is measured from on a fiber's stack
  if (style.max_bytes != 0) message.set_bound(style.max_bytes);
  if (style.format == Style::Format::Line) {
    render<Form::Line>(L, first, message);
  } else if (style.escape) {
    render<Form::EscapedDump>(L, first, message);
  } else {
    render<Form::Dump>(L, first, message);
  }
}

}  // namespace quelto::utils
