// The gate: whether a logger admits a call of a priority. The one answer that
// the log methods, `is_enabled` and the LuaJIT methods all ask for.
#pragma once

#include <atomic>
#include <log4cpp/Category.hh>

namespace quelto::backend {

/// The priority a logger's filtered calls are decided by.
enum class Gate : unsigned char {
  own,      // the category's own priority: NOTSET lets every call through
  chained,  // the category's own, else its nearest ancestor's: log4cpp's decision
};

/// What a logger keeps so that its gate reads plain words, and the priority
/// log4cpp decides by costs the same however deep its category sits: where
/// the category's own priority word is, and where the word of its nearest
/// ancestor with a priority was found when the priorities last changed
/// shape. Both words are read at every call, so a new value of either is
/// seen at once; an ancestor that lost its priority, or a change by
/// `configure`, `set_priority` or `priorities_changed`, sends the next call
/// up the ancestors again. Used by one thread at a time, as the Lua state
/// that holds it.
struct GateCache {
  explicit GateCache(const log4cpp::Category& category) noexcept;

  const volatile int* own;
  const volatile int* inherited = nullptr;  // the root's: its own, which it never loses
  unsigned generation = 0;                  // never a current one: filled by the first call
};

/// Counts the changes that may give a category between another and the
/// ancestor it inherits from a priority of its own: a cache of another
/// count is refilled.
inline std::atomic<unsigned> priority_generation{1};

/// Marks every cache as stale: after `configure`, `set_priority`, and a
/// host's own `setPriority` (through `quelto_internal_priorities_changed`).
inline void priorities_changed() noexcept {
  priority_generation.fetch_add(1, std::memory_order_relaxed);
}

/// The slow path of the chained priority: walks up the ancestors, refills
/// `cache` and returns what it found.
int refill_chained(const log4cpp::Category& category, GateCache& cache) noexcept;

/// What `category.getChainedPriority()` returns: the category's own priority,
/// else that of its nearest ancestor with one. Two words read, at any depth,
/// while the cache is current. Takes no lock.
inline int chained_priority(const log4cpp::Category& category, GateCache& cache) noexcept;

/// The chained priority of a category without a priority of its own: its
/// nearest ancestor's.
inline int inherited_priority(const log4cpp::Category& category, GateCache& cache) noexcept {
  if (cache.generation == priority_generation.load(std::memory_order_relaxed)) {
    const int inherited = *cache.inherited;
    if (inherited < log4cpp::Priority::NOTSET) return inherited;
  }
  return refill_chained(category, cache);
}

inline int chained_priority(const log4cpp::Category& category, GateCache& cache) noexcept {
  const int own = *cache.own;  // volatile: read at every call
  if (own < log4cpp::Priority::NOTSET) return own;
  return inherited_priority(category, cache);
}

/// The priority the gate compares a call's priority with. Both gates read
/// log4cpp's current values and take no lock, so a change from anywhere is
/// seen by the next call. The own gate reads the word `getPriority` returns;
/// so does the chained gate first, and the two differ only for a category
/// without a priority of its own: `gate` is read then alone (a word the
/// caller may share, such as a process-wide default).
inline int gate_priority(const log4cpp::Category& category, const std::atomic<Gate>& gate,
                         GateCache& cache) noexcept {
  const int own = *cache.own;  // volatile: read at every call
  if (own < log4cpp::Priority::NOTSET || gate.load(std::memory_order_relaxed) == Gate::own) {
    return own;
  }
  return inherited_priority(category, cache);
}
inline int gate_priority(const log4cpp::Category& category, Gate gate, GateCache& cache) noexcept {
  if (gate == Gate::own) return *cache.own;
  return chained_priority(category, cache);
}

/// True when a call of `priority` passes the gate: it is at least as severe
/// (numerically not above) as the gate's priority. With the chained gate,
/// exactly when log4cpp would write the record.
template <class GateWord>
inline bool admits(const log4cpp::Category& category, const GateWord& gate, GateCache& cache,
                   int priority) noexcept {
  return priority <= gate_priority(category, gate, cache);
}

}  // namespace quelto::backend
