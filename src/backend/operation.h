// What the operations that change log4cpp hold while they do, each wait
// bounded by one deadline.
#pragma once

#include <stdexcept>
#include <string>

#include "deadline.h"
#include "process_lock.h"

namespace quelto::backend {

/// An operation that gave up waiting, or that the exit refused; its text
/// names what it waited on.
class GaveUp : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

/// `configure` and `reopen`: the configuration turn; then the queue written
/// out, so that the records logged before the operation go out as they were
/// logged; then the lock alone, with no category's own mutex held by the
/// host's threads (log4cpp would wait on it inside the change).
class Operation {
 public:
  /// `name` names the operation in its error. Throws GaveUp, having kept
  /// nothing, when one of them did not come before `deadline`.
  Operation(const char* name, Deadline deadline);

 private:
  Turn turn_;
  ExclusiveUse alone_;
};

/// `set_priority`: the configuration turn only. Throws GaveUp as Operation.
class Setting {
 public:
  explicit Setting(const char* name);

 private:
  Turn turn_;
};

}  // namespace quelto::backend
