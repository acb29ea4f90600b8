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
/// through an appender that several categories share. `json_object` says
/// that the message is a JSON format's object (json_message.h), which the
/// JSON layout writes as members of the record. Throws nothing.
void write_record(log4cpp::Category& category, int priority, const std::string& message,
                  bool json_object = false) noexcept;

/// True inside a `write_record` of a JSON object on this thread, for the
/// text of that object: what the JSON layout asks of the event it formats.
/// log4cpp's appenders format a record on the thread that logs it.
bool is_json_record(const std::string& message) noexcept;

}  // namespace quelto::backend
