#include "render_message.h"

#include <log4cpp/Category.hh>
#include <string>

#include "../render/buffer_stream.h"
#include "../render/table_traverser.h"
#include "../render/write_basetype.h"
#include "../render/write_table.h"

namespace quelto {
namespace {

// One argument with a type that may carry a `__tostring`.
void render_object(lua_State* L, int index, int type, utils::BufferStream& stream) {
  if (utils::lua::call_tostring(L, index)) {  // result on top
    const char* text =
        lua_type(L, -1) == utils::lua::String ? lua_tolstring(L, -1, nullptr) : nullptr;
    if (text == nullptr) {
      // Not a text: the message ends here, but later arguments are still visited.
      stream.setstate(std::ios_base::badbit);
    } else {
      stream << text << std::endl;
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

void render_arguments(lua_State* L, int first, utils::BufferStream& stream) {
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
  utils::BufferStream stream;
  render_arguments(L, first, stream);
  stream.put('\0');
  // Built here, where an allocation failure can still be caught: the
  // string overload of `log` takes the text as the message itself (never as a
  // format) and does not let exceptions out.
  const std::string message(stream.text());
  category.log(priority, message);
}

}  // namespace quelto
