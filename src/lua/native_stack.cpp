#include "native_stack.h"

#include <pthread.h>

#include <cstdint>

namespace quelto::lua {
namespace {

// The calling thread's stack, read once per thread: [low, high), empty when
// it could not be read.
struct Stack {
  std::uintptr_t low = 0;
  std::uintptr_t high = 0;
};

Stack read_stack() noexcept {
  Stack stack;
  pthread_attr_t attributes;
  if (pthread_getattr_np(pthread_self(), &attributes) != 0) return stack;
  void* low = nullptr;
  std::size_t size = 0;
  if (pthread_attr_getstack(&attributes, &low, &size) == 0) {
    stack.low = reinterpret_cast<std::uintptr_t>(low);
    stack.high = stack.low + size;
  }
  pthread_attr_destroy(&attributes);
  return stack;
}

// The renderings in progress on this thread, and the frame of the outermost.
thread_local int renderings = 0;
thread_local std::uintptr_t outermost = 0;

// Farther below the outermost rendering than this, a frame is on another
// stack than that rendering's: the host switched fibers inside it.
constexpr std::uintptr_t kSameStackSpan = 1024 * 1024;

}  // namespace

bool native_stack_left(std::size_t bytes) noexcept {
  static thread_local const Stack stack = read_stack();
  const auto here = reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
  if (here > stack.low && here < stack.high) return here - stack.low >= bytes;
  // A stack of the host's own, or the thread's could not be read.
  if (renderings == 0 || here > outermost || outermost - here > kSameStackSpan) return true;
  return outermost - here + bytes <= kForeignStackUse;
}

RenderingFrame::RenderingFrame() noexcept {
  if (renderings++ == 0) outermost = reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
}

RenderingFrame::~RenderingFrame() {
  --renderings;
}

}  // namespace quelto::lua
