#include "record.h"

#include <log4cpp/Category.hh>
#include <string>

#include "process_lock.h"
#include "shared_appenders.h"

namespace quelto::backend {
namespace {

// log4cpp takes a message as a string. A thread keeps one of this size for
// the messages that fit, made at its first record, so that a common record
// costs no heap block; a longer message gets a string of its own.
constexpr std::size_t kKeptBytes = 4096;

void hand_on(log4cpp::Category& category, int priority, const std::string& message) noexcept {
  const SharedUse use;                        // first: the stripes are read under it
  const SharedAppenderUse in_turn(category);  // a shared appender's stripes
  category.log(priority, message);            // log4cpp's own: throws nothing
}

}  // namespace

void write_record(log4cpp::Category& category, int priority, std::string_view message) {
  if (message.size() > kKeptBytes) return hand_on(category, priority, std::string(message));
  static thread_local std::string kept;
  if (kept.capacity() < kKeptBytes) kept.reserve(kKeptBytes);
  kept.assign(message.data(), message.size());
  hand_on(category, priority, kept);
}

}  // namespace quelto::backend
