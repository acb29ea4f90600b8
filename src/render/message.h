// Rendering the arguments of a log call into one message.
#pragma once

#include "../lua/compat.h"
#include "message_buffer.h"
#include "style.h"

namespace quelto::utils {

/// Appends the values at stack indices `first`..top to `message`, one after the
/// other with no separator: scalars as text, objects through `__tostring`
/// (followed by a newline in the dump), tables as a dump or a one-line
/// constructor, other values in opaque form, as `style` asks. A bound stops
/// the rendering where it cuts the text: later values, and their
/// metamethods, are not visited. Lua errors of metamethods come back as
/// `lua::Error`; leaves the stack as it found it otherwise.
void render_arguments(lua_State* L, int first, MessageBuffer& message, const Style& style = {});

}  // namespace quelto::utils
