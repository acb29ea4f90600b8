// How every entry point keeps Lua errors and C++ exceptions apart.
//
// A Lua error is a longjmp that skips C++ destructors, and a C++ exception
// must never unwind through the interpreter's C frames. So an entry point
// first checks its arguments (raising directly, while it owns nothing), then
// hands its C++ work to `guarded`. Inside, Lua code runs only under protected
// calls (protected.h), whose failures come back as C++ exceptions;
// every exception unwinds the C++ frames normally and is caught here. Only
// after the catch, from a frame that owns nothing, is the Lua error raised.
//
// Where Lua is compiled as C++, its errors are exceptions of its own type;
// LuaJIT raises its errors through the C++ unwinder. Such an error is not the
// module's to handle: it passes on unchanged to the interpreter's protected
// call that waits for it. The handlers below grow no Lua stack: a Lua error
// that starts while a C++ exception is handled in a noexcept frame ends the
// process.
#pragma once

#include <new>
#include <string>
#include <type_traits>
#include <utility>

#include "messages.h"
#include "protected.h"

namespace quelto::lua {

/// A failure to report to the script as a Lua error with this text, prefixed
/// with the caller's position as `luaL_error` does.
class Raise : public std::exception {
 public:
  explicit Raise(std::string message) : message_(std::move(message)) {}
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  std::string message_;
};

namespace detail {

enum class Outcome { Done, LuaError, Message, OutOfMemory };

/// Pushes `text` as a Lua string without raising; on a memory error the error
/// value takes its place. Needs 2 free stack slots.
void push_text(lua_State* L, const char* text) noexcept(!kErrorsUnwind);

/// Leaves the value to raise on top of the stack, at most one slot above `base`.
template <class Body>
Outcome run(lua_State* L, int base, Body& body, int& results) noexcept(!kErrorsUnwind) {
  try {
    results = body();
    return Outcome::Done;
  } catch (const Error&) {
    // The error value is on top; drop what the unwound frames left below it
    // (lua_replace needs no stack slot: compat-5.3's lua_copy may grow it).
    if (lua_gettop(L) > base + 1) {
      lua_replace(L, base + 1);
      lua_settop(L, base + 1);
    }
    return Outcome::LuaError;
  } catch (const std::bad_alloc&) {
    lua_settop(L, base);
    return Outcome::OutOfMemory;
  } catch (const std::exception& e) {
    lua_settop(L, base);
    push_text(L, e.what());
    return Outcome::Message;
  } catch (...) {
    if constexpr (kErrorsUnwind) {
      if (handling_lua_error()) throw;  // the interpreter's own error
    }
    lua_settop(L, base);
    push_text(L, messages::kUnknownException);
    return Outcome::Message;
  }
}

/// Raises the outcome's error from a frame that owns no C++ object.
int raise(lua_State* L, Outcome outcome);

}  // namespace detail

/// Runs `body()` and returns its result count, or raises as a Lua error
/// whatever it threw: the pending Lua error of a protected call unchanged,
/// "not enough memory" for an allocation failure, the position and `what()`
/// for any other exception. The caller must hold no object with a destructor
/// across this call, so that a raise here skips nothing.
template <class Body>
int guarded(lua_State* L, Body&& body) {
  static_assert(std::is_trivially_destructible_v<std::remove_reference_t<Body>>,
                "the body must not own anything a Lua error could skip");
  int results = 0;
  const detail::Outcome outcome = detail::run(L, lua_gettop(L), body, results);
  if (outcome == detail::Outcome::Done) return results;
  return detail::raise(L, outcome);
}

}  // namespace quelto::lua
