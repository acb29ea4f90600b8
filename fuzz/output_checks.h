// Properties every logged message must have, whatever the graph: checked on
// the message itself, with only the stretches copied from Lua values set
// apart.
#pragma once

#include <lua.hpp>
#include <string>
#include <vector>

#include "expected_message.h"

namespace quelto::fuzz {

/// Empty when the braces and double quotes outside `contents` are balanced
/// (no brace closes before it opens, every one closes, quotes pair up);
/// otherwise what is wrong. Of a `cut` message, only that no brace closes
/// before it opens.
std::string check_balanced(const std::string& message, const std::vector<Span>& contents, bool cut);

/// How many "<cycle>" markers stand outside `contents`.
int count_cycle_markers(const std::string& message, const std::vector<Span>& contents);

/// True when a table among the values at `args` reaches itself again
/// through table values (keys and metatables are never dumped).
bool has_table_cycle(lua_State* L, const std::vector<int>& args);

}  // namespace quelto::fuzz
