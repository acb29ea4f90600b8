#include "record.h"

#include <log4cpp/Category.hh>

#include "process_lock.h"
#include "shared_appenders.h"

namespace quelto::backend {

void write_record(log4cpp::Category& category, int priority, const std::string& message) noexcept {
  const SharedUse use;                        // first: the stripes are read under it
  const SharedAppenderUse in_turn(category);  // a shared appender's stripes
  category.log(priority, message);            // log4cpp's own: throws nothing
}

}  // namespace quelto::backend
