// Rendering the arguments of a log call into one message.
#pragma once

#include "../render/lua_compat.h"

namespace log4cpp {
class Category;
}

namespace utils {
class MessageBuffer;
}

namespace quelto {

/// Appends the values at stack indices `first`..top to `message`, one after the
/// other with no separator: scalars as text, objects through `__tostring`
/// (followed by a newline), tables as a dump, other values in opaque form.
/// Lua errors of metamethods come back as `utils::lua::Error`.
void render_arguments(lua_State* L, int first, utils::MessageBuffer& message);

/// Renders the values at `first`..top and logs the message at `priority`.
void log_message(lua_State* L, int first, log4cpp::Category& category, int priority);

}  // namespace quelto
