// How much of the thread's native stack is left.
#pragma once

#include <cstddef>

namespace quelto::lua {

/// The native stack a log call keeps in reserve below its deepest nesting:
/// enough for log4cpp's appenders, the interpreter's frames of one more level
/// and the raise of a Lua error, which all run below the last check.
inline constexpr std::size_t kStackReserve = 32 * 1024;

/// Whether at least `bytes` of the calling thread's native stack are left
/// below the caller's frame. Nesting through the interpreter (a `__tostring`
/// that logs, a table inside a table) costs native stack at every level, and
/// a thread may have far less of it than the main thread (musl's default, a
/// server's worker threads): a count of levels alone cannot tell when to stop.
/// True when the thread's stack is unknown, or the caller runs on a stack of
/// its own (a host's coroutine library): the other bounds still hold there.
bool native_stack_left(std::size_t bytes) noexcept;

}  // namespace quelto::lua
