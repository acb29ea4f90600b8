// Rendering the arguments of a log call into one message.
#pragma once

#include <string>
#include <string_view>

#include "../lua/compat.h"
#include "message_buffer.h"
#include "style.h"

namespace quelto::utils {

/// Appends the values at stack indices `first`..top to `message`, one after the
/// other with no separator: scalars as text, objects through `__tostring`
/// (followed by a newline in the dump), tables as a dump or a one-line
/// constructor, other values in opaque form, as `style` asks; in the JSON
/// format, one object (json_message.h). The table at `fields` (0 for none),
/// a logger's fields, follows as one more table after a space (JSON: its
/// entries are members). `style.lazy` first calls every argument that is a
/// function (lua::call_in_place); `style.location` starts the message with
/// the calling Lua code's "file:line: ". A bound stops the rendering where it
/// cuts the text: later values, and their metamethods, are not visited. Lua
/// errors of metamethods come back as `lua::Error`; leaves the stack as it
/// found it otherwise, but for the functions a lazy call replaced.
void render_arguments(lua_State* L, int first, MessageBuffer& message, const Style& style = {},
                      int fields = 0);

/// The message's text as `style` finishes it: the buffer's, but for a JSON
/// message that was cut or ended early, which is closed into `closed` so
/// that it stays valid JSON within the bound (close_json).
std::string_view finished_text(MessageBuffer& message, const Style& style, std::string& closed);

}  // namespace quelto::utils
