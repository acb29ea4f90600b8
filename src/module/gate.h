// The priority a logger's gate compares a call's priority with.
#pragma once

#include <log4cpp/Category.hh>

#include "../backend/chained_priority.h"
#include "logger.h"

namespace quelto {

/// The own gate reads the category's own priority (NOTSET, the highest, lets
/// every call through and leaves the decision to log4cpp); the chained gate
/// reads the priority log4cpp decides by. Both read log4cpp's current values
/// and take no lock (process_lock.h), so a change from anywhere is seen by
/// the next call.
inline int gate_priority(const QueltoLogger& logger) noexcept {
  if (logger.options.gate == Gate::own) return logger.category->getPriority();
  return backend::chained_priority(*logger.category);
}

}  // namespace quelto
