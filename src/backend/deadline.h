// The bound on how long an operation waits for others, and the clocks it is
// measured with.
//
// An appender whose write blocks (a pipe nobody reads, a hung mount) holds
// what a record in flight holds for as long as it blocks. So nothing the
// module does waits for another thread without a deadline: `configure`,
// `reopen`, `set_priority`, `flush`, fork and exit each give up once their
// deadline has passed, with an error that names what they waited on.
#pragma once

#include <pthread.h>
#include <time.h>

#include <chrono>

namespace quelto::backend {

/// The most an operation waits for others, as the guide states it.
inline constexpr int kOperationBoundSeconds = 2;

/// A point in time, on the monotonic clock, after which a wait gives up.
class Deadline {
 public:
  using Clock = std::chrono::steady_clock;

  /// `wait` from now.
  static Deadline after(Clock::duration wait) noexcept { return Deadline(Clock::now() + wait); }
  /// The operations' bound from now.
  static Deadline operation() noexcept {
    return after(std::chrono::seconds(kOperationBoundSeconds));
  }
  /// The earlier of this one and `wait` from now.
  Deadline within(Clock::duration wait) const noexcept {
    const Clock::time_point soon = Clock::now() + wait;
    return Deadline(soon < at_ ? soon : at_);
  }

  bool passed() const noexcept { return Clock::now() >= at_; }

  /// The time left, none once passed: for the calls that take a timeout.
  timespec left() const noexcept {
    const auto left = at_ - Clock::now();
    return to_timespec(left > Clock::duration::zero() ? left : Clock::duration::zero());
  }
  /// For pthread_cond_clockwait on CLOCK_MONOTONIC (steady_clock's clock).
  timespec monotonic() const noexcept { return to_timespec(at_.time_since_epoch()); }
  /// For the calls that take CLOCK_REALTIME (pthread_mutex_timedlock).
  timespec realtime() const noexcept {
    const auto left = at_ - Clock::now();
    return to_timespec(std::chrono::system_clock::now().time_since_epoch() +
                       (left > Clock::duration::zero() ? left : Clock::duration::zero()));
  }

 private:
  explicit Deadline(Clock::time_point at) noexcept : at_(at) {}
  template <class Duration>
  static timespec to_timespec(Duration since) noexcept {
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(since);
    return {static_cast<time_t>(seconds.count()),
            static_cast<long>(
                std::chrono::duration_cast<std::chrono::nanoseconds>(since - seconds).count())};
  }
  Clock::time_point at_;
};

/// Waits on `cond` (with `mutex` held) until signalled or `deadline`: false
/// once the deadline has passed. Spurious wake-ups return true, as usual.
inline bool wait_until(pthread_cond_t& cond, pthread_mutex_t& mutex, Deadline deadline) noexcept {
  const timespec at = deadline.monotonic();
  return pthread_cond_clockwait(&cond, &mutex, CLOCK_MONOTONIC, &at) == 0 || !deadline.passed();
}

/// Whether another thread holds `mutex` throughout `wait`; a mutex that is
/// free, or let go within it, is taken and let go again.
inline bool held_throughout(pthread_mutex_t& mutex, Deadline::Clock::duration wait) noexcept {
  const timespec until = Deadline::after(wait).realtime();
  if (pthread_mutex_timedlock(&mutex, &until) != 0) return true;
  pthread_mutex_unlock(&mutex);
  return false;
}

/// Holds a pthread mutex for its lifetime.
class MutexUse {
 public:
  explicit MutexUse(pthread_mutex_t& mutex) noexcept : mutex_(mutex) {
    pthread_mutex_lock(&mutex_);
  }
  ~MutexUse() { pthread_mutex_unlock(&mutex_); }
  MutexUse(const MutexUse&) = delete;
  MutexUse& operator=(const MutexUse&) = delete;

 private:
  pthread_mutex_t& mutex_;
};

}  // namespace quelto::backend
