// The gate: whether a logger admits a call of a priority. The one answer that
// the log methods, `is_enabled` and the LuaJIT methods all ask for.
#pragma once

#include <log4cpp/Category.hh>

#include "log4cpp_internals.h"

namespace quelto::backend {

/// The priority a logger's filtered calls are decided by.
enum class Gate : unsigned char {
  own,      // the category's own priority: NOTSET lets every call through
  chained,  // the category's own, else its nearest ancestor's: log4cpp's decision
};

/// The priority the gate compares a call's priority with. Both read
/// log4cpp's current values and take no lock, so a change from anywhere
/// (`configure`, `set_priority`, the host's own `setPriority`) is seen by the
/// next call.
inline int gate_priority(const log4cpp::Category& category, Gate gate) noexcept {
  if (gate == Gate::own) return category.getPriority();
  return chained_priority(category);
}

/// True when a call of `priority` passes the gate: it is at least as severe
/// (numerically not above) as the gate's priority. With the chained gate,
/// exactly when log4cpp would write the record.
inline bool admits(const log4cpp::Category& category, Gate gate, int priority) noexcept {
  return priority <= gate_priority(category, gate);
}

}  // namespace quelto::backend
