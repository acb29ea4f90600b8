// The bound on the table dump's native recursion.
#pragma once

#include "../lua/native_stack.h"

namespace quelto::utils {

/// How many tables one thread may have open in dumps at once. Each open table
/// costs a few native stack frames; the bound keeps a table nested a million
/// deep cheap and safe. It counts per thread rather than per dump, because a
/// `__tostring` met inside a dump may log, and that dump nests in this one.
/// A thread with a small stack stops earlier, where the native stack left
/// runs short (native_stack.h): checked at every kStackCheckEvery-th table, a
/// few hundred bytes of stack apart, so that common shallow tables skip it.
constexpr int kMaxOpenTables = 200;
constexpr int kStackCheckEvery = 8;

/// Counts one open table for as long as it lives.
class DepthGuard {
 public:
  DepthGuard() noexcept : admitted_(admit(++open_tables())) {}
  ~DepthGuard() { --open_tables(); }
  DepthGuard(const DepthGuard&) = delete;
  DepthGuard& operator=(const DepthGuard&) = delete;

  /// False once the bound is reached: write the stack-limit marker instead.
  bool admitted() const { return admitted_; }

 private:
  static bool admit(int open) noexcept {
    if (open > kMaxOpenTables) return false;
    return open % kStackCheckEvery != 0 || lua::native_stack_left(lua::kStackReserve);
  }
  static int& open_tables() noexcept {
    static thread_local int count = 0;
    return count;
  }
  bool admitted_;
};

}  // namespace quelto::utils
