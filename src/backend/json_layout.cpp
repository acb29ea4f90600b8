#include "json_layout.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <log4cpp/LoggingEvent.hh>
#include <log4cpp/Priority.hh>
#include <string_view>

#include "../render/write_escaped.h"
#include "record.h"

namespace quelto::backend {
namespace {

// The writers' stream operations over a string.
struct StringOut {
  std::string& text;
  void write(const char* data, std::streamsize size) {
    text.append(data, static_cast<std::size_t>(size));
  }
};

void append_json_text(std::string& record, const std::string& text) {
  StringOut out{record};
  utils::write_json_escaped(text.data(), text.size(), out);
}

// Writes `value` as `digits` decimal digits ending just before `end`.
void put_digits(unsigned value, int digits, char* end) {
  for (int i = 0; i < digits; ++i, value /= 10) *--end = static_cast<char>('0' + value % 10);
}

}  // namespace

void write_utc_time(long long seconds, int microseconds, char* out) noexcept {
  // Days since 1970-01-01 to the civil date (the proleptic Gregorian
  // calendar, in eras of 400 years).
  long long days = seconds / 86400;
  long long rest = seconds % 86400;
  if (rest < 0) {
    rest += 86400;
    --days;
  }
  const long long z = days + 719468;
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const auto day_of_era = static_cast<unsigned>(z - era * 146097);
  const unsigned year_of_era =
      (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
  const unsigned day_of_year =
      day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  const unsigned shifted_month = (5 * day_of_year + 2) / 153;  // March is 0
  const unsigned day = day_of_year - (153 * shifted_month + 2) / 5 + 1;
  const unsigned month = shifted_month < 10 ? shifted_month + 3 : shifted_month - 9;
  const auto year = static_cast<unsigned>(year_of_era + era * 400 + (month <= 2 ? 1 : 0));
  const auto of_day = static_cast<unsigned>(rest);
  char* p = out;
  put_digits(year, 4, p += 4);
  *p++ = '-';
  put_digits(month, 2, p += 2);
  *p++ = '-';
  put_digits(day, 2, p += 2);
  *p++ = 'T';
  put_digits(of_day / 3600, 2, p += 2);
  *p++ = ':';
  put_digits(of_day / 60 % 60, 2, p += 2);
  *p++ = ':';
  put_digits(of_day % 60, 2, p += 2);
  *p++ = '.';
  put_digits(static_cast<unsigned>(microseconds), 6, p += 6);
  *p = 'Z';
}

std::string JsonLayout::format(const log4cpp::LoggingEvent& event) {
  // The time's text up to the seconds changes once a second: each thread
  // keeps the last one it made.
  struct Seconds {
    long long second = LLONG_MIN;  // no record's
    char text[kUtcTimeSize];
  };
  static thread_local Seconds last;
  const long long second = event.timeStamp.getSeconds();
  if (second != last.second) {
    write_utc_time(second, 0, last.text);
    last.second = second;
  }
  // The members up to the category's name, in one piece: the level is one of
  // log4cpp's names, capital letters that need no escape.
  constexpr std::string_view kTime = "{\"time\":\"", kLevel = "\",\"level\":\"",
                             kLogger = "\",\"logger\":\"";
  const std::string& level = log4cpp::Priority::getPriorityName(event.priority);
  char head[96];
  char* p = head;
  const auto put = [&p](const char* text, std::size_t size) {
    std::memcpy(p, text, size);
    p += size;
  };
  put(kTime.data(), kTime.size());
  put(last.text, kUtcTimeSize - 8);  // to the seconds
  *p++ = '.';
  put_digits(static_cast<unsigned>(event.timeStamp.getMicroSeconds()), 6, p += 6);
  *p++ = 'Z';
  put(kLevel.data(), kLevel.size());
  put(level.data(), std::min<std::size_t>(level.size(), 16));
  put(kLogger.data(), kLogger.size());

  std::string record;
  record.reserve(static_cast<std::size_t>(p - head) + event.categoryName.size() +
                 event.message.size() + 16);
  record.append(head, static_cast<std::size_t>(p - head));
  append_json_text(record, event.categoryName);
  constexpr std::string_view kObject = "{\"msg\":";  // how every JSON-format message starts
  if (std::string_view(event.message).substr(0, kObject.size()) == kObject &&
      is_json_record(event.message)) {
    // {"msg":...}: its members after ours.
    record.append("\",").append(event.message, 1, std::string::npos).push_back('\n');
  } else {
    record.append("\",\"msg\":\"");
    append_json_text(record, event.message);
    record.append("\"}\n");
  }
  return record;
}

}  // namespace quelto::backend
