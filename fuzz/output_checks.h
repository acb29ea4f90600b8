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

/// Empty when `message` is one line of text: no byte below 0x20, no 0x7F,
/// nothing but valid UTF-8, none of the characters that end a line or drive
/// a terminal or the text's direction (C1 controls, U+2028, U+2029, the
/// bidirectional controls); otherwise what is wrong.
std::string check_one_line(const std::string& message);

/// Empty when `text` is one JSON object (RFC 8259) on one line, whose
/// strings hold none of the characters check_one_line refuses, raw;
/// otherwise what is wrong.
std::string check_json(const std::string& text);

/// Empty when `bounded`, logged with a bound of `max_bytes`, is `whole` as
/// the bound must leave it: the same when it fits, otherwise a prefix of it
/// that ends with no escape cut short, then the cut marker, `max_bytes` at
/// most. A prefix cut inside a UTF-8 sequence fails check_one_line.
std::string check_cut(const std::string& bounded, const std::string& whole, std::size_t max_bytes);

/// True when the table at `index` is one the line format writes exactly:
/// acyclic, no metatables, keys and values strings, booleans, integers and
/// floats that "%g" writes exactly, shallow enough for Lua to read back.
bool reads_back(lua_State* L, int index);

/// True when the tables at `a` and `b` hold equal keys and values.
bool same_table(lua_State* L, int a, int b);

}  // namespace quelto::fuzz
