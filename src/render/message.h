// Rendering the arguments of a log call into one message.
#pragma once

#include "../lua/compat.h"
#include "message_buffer.h"

namespace quelto::utils {

/// Appends the values at stack indices `first`..top to `message`, one after the
/// other with no separator: scalars as text, objects through `__tostring`
/// (followed by a newline), tables as a dump, other values in opaque form.
/// Lua errors of metamethods come back as `lua::Error`; leaves the stack as
/// it found it otherwise.
void render_arguments(lua_State* L, int first, MessageBuffer& message);

}  // namespace quelto::utils
