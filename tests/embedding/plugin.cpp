// A Lua C module of the consumer's own that takes the module in from the
// static library: a shared object, so the library must be position-independent.
#include <quelto_internal.h>

extern "C" __attribute__((visibility("default"))) int luaopen_consumer_plugin(lua_State* L) {
  return luaopen_quelto_internal(L);
}
