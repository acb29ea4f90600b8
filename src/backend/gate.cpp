#include "gate.h"

#include "log4cpp_internals.h"

namespace quelto::backend {

GateCache::GateCache(const log4cpp::Category& category) noexcept : own(&priority_word(category)) {}

int refill_chained(const log4cpp::Category& category, GateCache& cache) noexcept {
  // The count first: a change after it is read makes the next call refill.
  cache.generation = priority_generation.load(std::memory_order_relaxed);
  const log4cpp::Category* at = &category;
  for (const log4cpp::Category* up = parent_of(category); up != nullptr; up = parent_of(*up)) {
    at = up;
    if (priority_word(*at) < log4cpp::Priority::NOTSET) break;
  }
  // The nearest ancestor with a priority, or the root, whose NOTSET (should
  // it have none) is what log4cpp's own walk would not get past either.
  cache.inherited = &priority_word(*at);
  const int own = *cache.own;
  return own < log4cpp::Priority::NOTSET ? own : *cache.inherited;
}

}  // namespace quelto::backend
