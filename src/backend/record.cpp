#include "record.h"

#include <log4cpp/Category.hh>

#include "async_queue.h"
#include "lifecycle.h"
#include "process_lock.h"
#include "shared_appenders.h"

namespace quelto::backend {
namespace {

// log4cpp takes a message as a string. A thread keeps one of this size for
// the messages that fit, made at its first record, so that a common record
// costs no heap block; a longer message gets a string of its own.
constexpr std::size_t kKeptBytes = 4096;

// The JSON object this thread is handing to log4cpp, if any.
thread_local const std::string* json_object_in_hand = nullptr;

void hand_on(log4cpp::Category& category, int priority, const std::string& message,
             bool json_object) noexcept {
  const SharedUse use;                        // first: the stripes, and the exit, are read under it
  if (exiting()) return;                      // log4cpp is being torn down
  const SharedAppenderUse in_turn(category);  // a shared appender's stripes
  const JsonRecordMark mark(json_object ? &message : nullptr);
  category.log(priority, message);  // log4cpp's own: throws nothing
}

}  // namespace

void write_record(log4cpp::Category& category, int priority, std::string_view message,
                  bool json_object) {
  if (queue_record(category, priority, message, json_object)) return;  // the asynchronous mode
  if (message.size() > kKeptBytes) {
    return hand_on(category, priority, std::string(message), json_object);
  }
  static thread_local std::string kept;
  if (kept.capacity() < kKeptBytes) kept.reserve(kKeptBytes);
  kept.assign(message.data(), message.size());
  hand_on(category, priority, kept, json_object);
}

bool is_json_record(const std::string& message) noexcept {
  // The event holds a copy: the same text is the same record.
  const std::string* in_hand = json_object_in_hand;
  return in_hand != nullptr && *in_hand == message;
}

JsonRecordMark::JsonRecordMark(const std::string* message) noexcept {
  json_object_in_hand = message;
}

JsonRecordMark::~JsonRecordMark() {
  json_object_in_hand = nullptr;
}

}  // namespace quelto::backend
