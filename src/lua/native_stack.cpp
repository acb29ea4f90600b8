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

}  // namespace

bool native_stack_left(std::size_t bytes) noexcept {
  static thread_local const Stack stack = read_stack();
  const auto here = reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
  if (here <= stack.low || here >= stack.high) return true;  // not this thread's stack
  return here - stack.low >= bytes;
}

}  // namespace quelto::lua
