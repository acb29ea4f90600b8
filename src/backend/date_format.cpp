#include "date_format.h"

#include <atomic>
#include <charconv>
#include <cstring>
#include <ctime>
#include <vector>

namespace quelto::backend {
namespace {

// log4cpp's named formats.
constexpr const char* kIso8601 = "%Y-%m-%d %H:%M:%S,%l";
constexpr const char* kAbsolute = "%H:%M:%S,%l";
constexpr const char* kDate = "%d %b %Y %H:%M:%S,%l";

// Whether `format` ends inside a conversion: a `%` followed only by what
// glibc's strftime reads before the conversion letter (flags, a width, an E
// or O modifier). Text that follows such an end is read as part of it. Any
// character that might be a flag counts as one: a wrong "inside" only costs
// the per-record path.
bool ends_inside_conversion(const std::string& format) {
  std::size_t i = 0;
  while (i < format.size()) {
    if (format[i++] != '%') continue;
    while (i < format.size() && std::strchr("_-0^#+", format[i]) != nullptr) ++i;
    while (i < format.size() && format[i] >= '0' && format[i] <= '9') ++i;
    if (i < format.size() && (format[i] == 'E' || format[i] == 'O')) ++i;
    if (i == format.size()) return true;
    ++i;  // the conversion letter, whatever it is
  }
  return false;
}

// Appends strftime's text of `format` for `tm`. strftime returns 0 both for
// an empty text and for one that does not fit: a larger buffer tells them
// apart.
void append_strftime(std::string& out, const std::string& format, const std::tm& tm) {
  if (format.empty()) return;
  char small[128];
  std::size_t size = std::strftime(small, sizeof small, format.c_str(), &tm);
  if (size != 0) {
    out.append(small, size);
    return;
  }
  for (std::size_t capacity = 1024; capacity <= (std::size_t{1} << 20); capacity *= 16) {
    std::vector<char> large(capacity);
    size = std::strftime(large.data(), capacity, format.c_str(), &tm);
    if (size != 0) {
      out.append(large.data(), size);
      return;
    }
  }
}

// The milliseconds as log4cpp streams them: at least three characters,
// filled with '0' on the left.
std::size_t millis_text(int millis, char (&text)[16]) {
  char digits[16];
  const std::size_t size = std::to_chars(digits, digits + sizeof digits, millis).ptr - digits;
  const std::size_t fill = size < 3 ? 3 - size : 0;
  std::memset(text, '0', fill);
  std::memcpy(text + fill, digits, size);
  return fill + size;
}

std::tm local_time(int seconds) {
  const std::time_t t = seconds;
  std::tm tm{};
  localtime_r(&t, &tm);
  return tm;
}

// One thread's texts of one second for one format: the part before the
// milliseconds, then the part after.
struct CachedSecond {
  std::uint64_t owner = 0;  // the format's id; 0 for none
  int second = 0;
  std::uint16_t before = 0;  // bytes of text taken by each part
  std::uint16_t after = 0;
  char text[112] = {};
};

// A few formats per thread (a pattern rarely has more than one %d, a thread
// rarely writes through many layouts), indexed by the format's id.
constexpr std::size_t kCachedFormats = 4;
thread_local CachedSecond cached_seconds[kCachedFormats];

std::atomic<std::uint64_t> next_id{1};

}  // namespace

DateFormat::DateFormat(const std::string& braced) : id_(next_id.fetch_add(1)) {
  std::string format = braced;
  if (format.empty() || format == "ISO8601") {
    format = kIso8601;
  } else if (format == "ABSOLUTE") {
    format = kAbsolute;
  } else if (format == "DATE") {
    format = kDate;
  }
  const std::size_t at = format.find("%l");
  millis_ = at != std::string::npos;
  before_ = format.substr(0, at);
  if (millis_) after_ = format.substr(at + 2);
  apart_ = !millis_ || !ends_inside_conversion(before_);
}

void DateFormat::append(std::string& out, const log4cpp::TimeStamp& stamp) const {
  if (!apart_) return append_per_record(out, stamp);
  CachedSecond& cached = cached_seconds[id_ % kCachedFormats];
  const int second = stamp.getSeconds();
  if (cached.owner != id_ || cached.second != second) {
    const std::tm tm = local_time(second);
    std::string text;
    append_strftime(text, before_, tm);
    const std::size_t before = text.size();
    append_strftime(text, after_, tm);
    if (text.size() > sizeof cached.text) {  // too long to keep: made per record
      out.append(text, 0, before);
      if (millis_) {
        char millis[16];
        out.append(millis, millis_text(stamp.getMilliSeconds(), millis));
      }
      out.append(text, before);
      return;
    }
    cached.owner = id_;
    cached.second = second;
    cached.before = static_cast<std::uint16_t>(before);
    cached.after = static_cast<std::uint16_t>(text.size() - before);
    std::memcpy(cached.text, text.data(), text.size());
  }
  out.append(cached.text, cached.before);
  if (!millis_) return;
  const int ms = stamp.getMilliSeconds();
  if (ms >= 0 && ms < 1000) {
    const char digits[3] = {static_cast<char>('0' + ms / 100),
                            static_cast<char>('0' + ms / 10 % 10),
                            static_cast<char>('0' + ms % 10)};
    out.append(digits, 3);
  } else {
    char millis[16];
    out.append(millis, millis_text(ms, millis));
  }
  out.append(cached.text + cached.before, cached.after);
}

void DateFormat::append_per_record(std::string& out, const log4cpp::TimeStamp& stamp) const {
  char millis[16];
  std::string format = before_;
  format.append(millis, millis_text(stamp.getMilliSeconds(), millis));
  format += after_;
  append_strftime(out, format, local_time(stamp.getSeconds()));
}

}  // namespace quelto::backend
