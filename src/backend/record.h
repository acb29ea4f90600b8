// Handing a rendered record to log4cpp.
#pragma once

#include <string>

namespace log4cpp {
class Category;
}

namespace quelto::backend {

/// Logs `message` to `category` at `priority`, as the message itself (never
/// read as a format): through the configuration in force before or after a
/// concurrent `configure`, never through neither, and one record at a time
/// through an appender that several categories share. In the asynchronous
/// mode the record is queued (async_queue.h); once the process exits it is
/// not written. Throws nothing.
void write_record(log4cpp::Category& category, int priority, const std::string& message) noexcept;

}  // namespace quelto::backend
