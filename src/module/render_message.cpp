#include "render_message.h"

#include <log4cpp/Category.hh>
#include <string>

#include "../render/message_buffer.h"
#include "../render/table_traverser.h"
#include "../render/write_basetype.h"
#include "../render/write_table.h"
#include "shared_state.h"

namespace quelto {
namespace {

// One argument with a type that may carry a `__tostring`.
void render_object(lua_State* L, int index, int type, utils::MessageBuffer& stream) {
  if (utils::lua::call_tostring(L, index)) {  // result on top
    const char* text =
        lua_type(L, -1) == utils::lua::String ? lua_tolstring(L, -1, nullptr) : nullptr;
    if (text == nullptr) {
      // Not a text: the message ends here, but later arguments are still visited.
      stream.setstate(std::ios_base::badbit);
    } else {
      stream << text;
      stream.newline();
    }
    lua_pop(L, 1);  // the result
  } else if (type == utils::lua::Table) {
    const utils::TableTraverser traverser(L, index, 0, ' ');
    utils::write_table(L, index, traverser, stream);
  } else {
    utils::write_unhandled_type(L, index, stream);
  }
}

}  // namespace

void render_arguments(lua_State* L, int first, utils::MessageBuffer& stream) {
  const int top = lua_gettop(L);
  for (int i = first; i <= top; ++i) {
    const int type = lua_type(L, i);
    switch (type) {
      case utils::lua::Table:
      case utils::lua::Userdata:
      case utils::lua::LightUserdata:
        render_object(L, i, type, stream);
        break;
      default:
        utils::write_basetype(L, i, type, stream);
    }
  }
}

void log_message(lua_State* L, int first, log4cpp::Category& category, int priority) {
  // The text is complete before log4cpp sees it, so an allocation failure
  // is still caught here; the string overload of `log` takes it as the
  // message itself (never as a format), without a copy of ours, and lets no
  // exception out. A bad buffer hands on what was written before it went bad.
  // Only the hand-off holds the shared lock: rendering runs Lua code.
  utils::MessageBuffer message;
  render_arguments(L, first, message);
  const shared::SharedUse use;
  category.log(priority, message.text());
}

}  // namespace quelto
