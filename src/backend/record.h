// Handing a rendered record to log4cpp.
#pragma once

#include <string>
#include <string_view>

namespace log4cpp {
class Category;
}

namespace quelto::backend {

/// Logs `message` to `category` at `priority`, as the message itself (never
/// read as a format): through the configuration in force before or after a
/// concurrent `configure`, never through neither, and one record at a time
/// through an appender that several categories share. In the asynchronous
/// mode the record is queued (async_queue.h); once the process exits it is
/// not written. log4cpp takes the message as a string: a message of up to a
/// few KiB is copied into one the thread keeps from its first record on, so
/// that it costs no heap block. `json_object` says that the message is a
/// JSON format's object (json_message.h), which the JSON layout writes as
/// members of the record. Throws `std::bad_alloc` when no memory holds that
/// copy; nothing once it is made.
void write_record(log4cpp::Category& category, int priority, std::string_view message,
                  bool json_object = false);

/// True inside a `write_record` of a JSON object on this thread (or the
/// asynchronous writer's hand-off of one), for the text of that object: what
/// the JSON layout asks of the event it formats. log4cpp's appenders format
/// a record on the thread that hands it to them.
bool is_json_record(const std::string& message) noexcept;

/// Marks, for its lifetime, `message` as the JSON object this thread hands
/// to log4cpp; a null `message` marks nothing.
class JsonRecordMark {
 public:
  explicit JsonRecordMark(const std::string* message) noexcept;
  ~JsonRecordMark();
  JsonRecordMark(const JsonRecordMark&) = delete;
  JsonRecordMark& operator=(const JsonRecordMark&) = delete;
};

}  // namespace quelto::backend
