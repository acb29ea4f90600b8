// How much of the thread's native stack is left.
#pragma once

#include <cstddef>

namespace quelto::lua {

/// The native stack a log call keeps in reserve below its deepest nesting:
/// enough for log4cpp's appenders, the interpreter's frames of one more level
/// and the raise of a Lua error, which all run below the last check.
inline constexpr std::size_t kStackReserve = 32 * 1024;

/// On a stack that is not the thread's own, whose bounds the module cannot
/// read (a fiber's), how much a rendering and everything nested in it may
/// take below the outermost rendering's frame, the reserve included: fibers
/// of 128 KiB are common, and what ran above the log call took its share.
inline constexpr std::size_t kForeignStackUse = 64 * 1024;

/// Whether at least `bytes` of the calling thread's native stack are left
/// below the caller's frame. Nesting through the interpreter (a `__tostring`
/// that logs, a table inside a table) costs native stack at every level, and
/// a thread may have far less of it than the main thread (musl's default, a
/// server's worker threads): a count of levels alone cannot tell when to stop.
/// Where the caller runs on a stack of the host's own (a coroutine library's
/// fiber, made with makecontext), outside the thread's bounds, the answer is
/// kForeignStackUse below the outermost RenderingFrame of the thread.
bool native_stack_left(std::size_t bytes) noexcept;

/// Marks a rendering for as long as it lives. The outermost one of a thread
/// is where native_stack_left measures from on a stack of the host's own.
class RenderingFrame {
 public:
  RenderingFrame() noexcept;
  ~RenderingFrame();
  RenderingFrame(const RenderingFrame&) = delete;
  RenderingFrame& operator=(const RenderingFrame&) = delete;
};

}  // namespace quelto::lua
