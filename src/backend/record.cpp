#include "record.h"

#include <log4cpp/Category.hh>

#include "async_queue.h"
#include "lifecycle.h"
#include "process_lock.h"
#include "shared_appenders.h"

namespace quelto::backend {

void write_record(log4cpp::Category& category, int priority, const std::string& message) noexcept {
  if (queue_record(category, priority, message)) return;  // the asynchronous mode
  const SharedUse use;                        // first: the stripes, and the exit, are read under it
  if (exiting()) return;                      // log4cpp is being torn down
  const SharedAppenderUse in_turn(category);  // a shared appender's stripes
  category.log(priority, message);            // log4cpp's own: throws nothing
}

}  // namespace quelto::backend
