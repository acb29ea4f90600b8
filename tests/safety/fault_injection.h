// Allocation failures on demand, for the C++ heap and for a Lua state.
//
// The safety tests replace the global `operator new` (fault_injection.cpp) and
// give their Lua states `lua_alloc`. Both ask an `Injector` whether the next
// allocation fails. The C++ injector also counts live blocks, so that a test
// can see a destructor that a Lua error skipped.
//
//   Injector::cxx().fail_at(3);   // the 4th allocation from now fails
//   ... run the call ...
//   Injector::cxx().disarm();
#pragma once

#include <atomic>
#include <cstddef>

namespace quelto::safety {

class Injector {
 public:
  /// The injector behind `operator new`, and the one behind `lua_alloc`.
  static Injector& cxx();
  static Injector& lua();

  /// Lets `skip` allocations through, then fails the next one; with
  /// `persistent`, every one after it fails as well.
  void fail_at(long skip, bool persistent = false) {
    remaining_ = skip;
    persistent_ = persistent;
    failures_ = 0;
    seen_ = 0;
    armed_ = true;
  }
  void disarm() { armed_ = false; }
  bool armed() const { return armed_; }
  void set_armed(bool armed) { armed_ = armed; }  // atomic: Suspend runs on any thread

  /// How many allocations failed since the last `fail_at`.
  long failures() const { return failures_; }

  /// How many allocations were asked for while armed since the last `fail_at`:
  /// for a run that met no failure, every allocation the call made.
  long seen() const { return seen_; }

  /// Called by the allocators: true when this allocation must fail.
  bool should_fail() {
    if (!armed_) return false;
    ++seen_;
    if (remaining_ > 0) {
      --remaining_;
      return false;
    }
    ++failures_;
    if (!persistent_) armed_ = false;
    return true;
  }

  /// Blocks from `operator new` not yet deleted (C++ injector only). Counted
  /// from every thread; failures are only ever armed by the test's own.
  long live_blocks() const { return live_.load(std::memory_order_relaxed); }
  void count_new() { live_.fetch_add(1, std::memory_order_relaxed); }
  void count_delete() { live_.fetch_sub(1, std::memory_order_relaxed); }

 private:
  std::atomic<bool> armed_{false};
  bool persistent_ = false;
  long remaining_ = 0;
  long failures_ = 0;
  long seen_ = 0;
  std::atomic<long> live_{0};
};

/// Stops both injectors for its lifetime, for test code that must allocate
/// while a run is armed (a capturing category copying the message).
class Suspend {
 public:
  Suspend() : cxx_(Injector::cxx().armed()), lua_(Injector::lua().armed()) {
    Injector::cxx().disarm();
    Injector::lua().disarm();
  }
  ~Suspend() {
    Injector::cxx().set_armed(cxx_);
    Injector::lua().set_armed(lua_);
  }
  Suspend(const Suspend&) = delete;
  Suspend& operator=(const Suspend&) = delete;

 private:
  bool cxx_;
  bool lua_;
};

/// A Lua allocator (`lua_Alloc`) that fails where `Injector::lua()` says.
/// Shrinking never fails: Lua relies on that.
void* lua_alloc(void* ud, void* ptr, std::size_t osize, std::size_t nsize);

}  // namespace quelto::safety
