#include "operation.h"

#include "../lua/messages.h"
#include "async_queue.h"
#include "busy.h"
#include "lifecycle.h"
#include "texts.h"

namespace quelto::backend {
namespace {

// A fixed text of messages.h with the operation's name first.
template <typename... Values>
GaveUp gave_up(const char* text, const char* name, Values... values) {
  return GaveUp(filled(text, name, values...));
}

// The turn, or why not.
void check_turn(const Turn& turn, const char* name) {
  if (!turn.held()) throw gave_up(messages::kGaveUpOnTurn, name, kOperationBoundSeconds);
  if (exiting()) throw gave_up(messages::kProcessExiting, name);
}

}  // namespace

Operation::Operation(const char* name, Deadline deadline) : turn_(deadline) {
  check_turn(turn_, name);
  if (!flush_records(deadline)) {
    const log4cpp::Category* busy = writer_busy_with();
    throw gave_up(messages::kGaveUpOnRecord, name, kOperationBoundSeconds,
                  (busy != nullptr ? describe(*busy) : busy_categories()).c_str());
  }
  if (!alone_.acquire(deadline)) {
    throw gave_up(messages::kGaveUpOnRecord, name, kOperationBoundSeconds,
                  busy_categories().c_str());
  }
  const std::string held = wait_for_categories(deadline);
  if (!held.empty()) {
    throw gave_up(messages::kGaveUpOnRecord, name, kOperationBoundSeconds, held.c_str());
  }
}

Setting::Setting(const char* name) : turn_(Deadline::operation()) {
  check_turn(turn_, name);
}

}  // namespace quelto::backend
