// The renderer's only ways into Lua calls that can raise.
//
// A Lua error is a longjmp: it would skip the destructors of every C++ object
// between the raise and the enclosing protected call. So while the renderer
// has streams, traversers or strings alive, it calls Lua code (metamethods)
// and allocating API functions only through the helpers below. They run the
// call under `lua_pcall`; on failure they leave the error value on top of the
// stack and throw `lua::Error`, which unwinds the C++ frames normally.
// The entry point that catches it re-raises the value once its frame owns
// nothing (see guard.h).
//
// Every other API function the renderer uses cannot raise: type tests,
// conversions of numbers and strings that are already strings, pushes of
// existing values, `lua_getmetatable`, `lua_checkstack`, and `lua_next` on a
// table that no Lua code can have changed since the previous step.
#pragma once

#include <exception>

#include "types.h"

namespace quelto::lua {

/// A Lua error whose value sits on top of the Lua stack.
struct Error : std::exception {
  const char* what() const noexcept override { return "Lua error pending"; }
};

/// Counts the protected calls made on this thread: a changed count tells a
/// traversal that Lua code (a metamethod, a finalizer run by a collection
/// step) may have run and changed a table under it. A Lua state runs on one
/// thread at a time, so the thread's own count is the one that matters. The
/// reference stays valid for the thread's life: take it once per traversal.
const unsigned long& protected_calls() noexcept;

/// The calls below that may run a metamethod throw `Raise` with "C stack
/// overflow" instead when the native stack left is short of kStackReserve
/// (native_stack.h): a metamethod that logs nests a log call in this one.
///
/// Calls the `__tostring` metamethod of the value at `index`, if it has one.
/// Returns false, with nothing pushed, when it has none. Otherwise pushes the
/// result, with a number result already converted to its text, and returns
/// true. Needs 2 free stack slots.
bool call_tostring(lua_State* L, int index);

/// Pushes the `__name` field of the value's metatable when that is a string
/// and returns true; returns false with nothing pushed otherwise. Needs 2 free
/// stack slots.
bool push_name(lua_State* L, int index);

/// Pushes a new table holding the keys of the table at `index` at 1..n, in
/// the order `lua_next` yields them: it keeps them alive while Lua code runs.
/// Raises only a memory error. Needs 3 free stack slots.
void push_keys(lua_State* L, int index);

/// Calls the function at `index` with no arguments and puts its first result
/// (nil for none) in its place; an error it raises becomes the text
/// "<error: MESSAGE>" there instead (the type name for an error value that is
/// no string or number), as does a call the native stack has no room for.
/// Raises only a memory error. Needs 3 free stack slots.
void call_in_place(lua_State* L, int index);

/// `lua_next` on the table at `index` under protection: an invalid key (the
/// table was rehashed by a metamethod) raises. Needs 2 free stack slots.
int protected_next(lua_State* L, int index);

/// `lua_next` after a step that may have run Lua code, raw otherwise.
inline int next(lua_State* L, int index, bool lua_ran) {
  return lua_ran ? protected_next(L, index) : lua_next(L, index);
}

}  // namespace quelto::lua
