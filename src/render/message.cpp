#include "message.h"

#include "table_traverser.h"
#include "write_basetype.h"
#include "write_table.h"

namespace quelto::utils {

void render_arguments(lua_State* L, int first, MessageBuffer& message) {
  const int top = lua_gettop(L);
  for (int i = first; i <= top; ++i) {
    const int type = lua_type(L, i);
    switch (type) {
      case lua::Table:
      case lua::Userdata:
      case lua::LightUserdata: {
        const TableTraverser top_level(L, i, 0, ' ');
        write_object(L, i, type, top_level, message);
        break;
      }
      default:
        write_basetype(L, i, type, message);
    }
  }
}

}  // namespace quelto::utils
