// The JSON format's message: one JSON object on one line.
//
//   log:info("user ", "bob", " logged in", { id = 42, 1.5 })
//     ->  {"msg":"user bob logged in","id":42,"args":[1.5]}
//
// `msg` is the text of every argument but a table: scalars, `__tostring`
// texts and opaque values, joined as in the other formats (numbers exact, as
// write_json.h writes them, no newline after a `__tostring` text). The
// string-keyed entries of the tables become members of the object, those of
// a later table winning over an earlier one's; every other entry goes into
// the member `args`, an array when its keys are exactly 1..n and an object
// otherwise, the later table's entry again winning. A string key that names a
// member the record writes itself (msg, src, time, level, logger, args) goes
// into `args` too, so that no member is written twice. The logger's fields
// (logger:with) come first, as a table that every argument is later than.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "../lua/types.h"
#include "message_buffer.h"

namespace quelto::utils {

/// The least bound of a JSON message: the shortest cut record,
/// {"msg":"<truncated>"}. A smaller bound counts as this one.
inline constexpr std::size_t kLeastJsonBound = 21;

/// The member names a field never takes (they go into `args`).
bool is_reserved_member(std::string_view name);

/// The calling code's "file:line" for the member "src", or nothing.
struct Location {
  const char* file = nullptr;
  int line = 0;
};

/// Writes the JSON message of the values at `first`..top (and of the fields
/// table at `fields`, 0 for none) into `message`, with the member "src" when
/// `location` names a file. `kSorted`: members and the keys of every object
/// sorted (sorted_keys.h). Lua errors of metamethods come back as
/// `lua::Error`; leaves the stack as it found it otherwise.
template <bool kSorted>
void write_json_message(lua_State* L, int first, int fields, const Location& location,
                        MessageBuffer& message);

/// A JSON message that was cut at its bound, or ended early (a `__tostring`
/// that gave no text, an allocation that failed), closed so that it is
/// valid JSON of at most `bound` bytes: `text` (less the cut marker that
/// ends it when `cut`) is kept up to the last place where what closes it
/// fits, and closed there with the marker: inside the string it cuts
/// ({"msg":"abc<truncated>"}), as the next value ([1,2,"<truncated>"]), or
/// as a member ({"msg":"x","<truncated>":true}); then every open array and
/// object is closed.
std::string close_json(std::string_view text, bool cut, std::size_t bound);

}  // namespace quelto::utils
