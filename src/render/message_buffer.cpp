#include "message_buffer.h"

#include <algorithm>
#include <charconv>
#include <locale>
#include <new>
#include <sstream>

namespace quelto::utils {
namespace {

bool is_continuation(char byte) {
  return (static_cast<unsigned char>(byte) & 0xC0) == 0x80;
}

// How many of the first `room` bytes of `text` (which has more) to keep so as
// not to split a UTF-8 sequence: back over at most three continuation bytes.
// More of them are no UTF-8 at all, and any cut will do.
std::size_t whole_sequences(const char* text, std::size_t room) {
  std::size_t kept = room;
  while (kept > 0 && room - kept < 3 && is_continuation(text[kept])) --kept;
  return is_continuation(text[kept]) ? room : kept;
}

}  // namespace

void MessageBuffer::set_bound(std::size_t max_bytes) {
  max_bytes_ = std::max(max_bytes, kCutMarker.size());
  capacity_ = std::min(capacity_, std::max(limit(), used_));
}

void MessageBuffer::append(const char* text, std::size_t size, bool divisible) noexcept {
  if (bad_ || full_) return;
  const std::size_t beside_marker = max_bytes_ - kCutMarker.size();
  if (cut_at_ == kUnknown && size > beside_marker - used_) {
    // The first write past the room beside the marker: a cut, if one comes,
    // goes here. Up to the bound itself, the text is still written whole.
    cut_at_ = used_ + (divisible ? whole_sequences(text, beside_marker - used_) : 0);
  }
  if (size > limit() - used_) {
    cut(text);
    return;
  }
  // Doubles, as a stream's buffer, up to the limit.
  if (!grow(std::min(std::max(used_ + size, 2 * capacity_), limit()))) {
    stop(bad_);  // a failed allocation, as the stream's buffer reports it
    return;
  }
  std::memcpy(data_ + used_, text, size);
  used_ += size;
}

bool MessageBuffer::grow(std::size_t capacity) noexcept {
  if (data_ == inline_ && capacity <= kInlineBytes) {
    capacity_ = capacity;
    return true;
  }
  try {
    heap_.resize(capacity);
  } catch (...) {
    return false;
  }
  if (data_ == inline_) std::memcpy(heap_.data(), inline_, used_);
  data_ = heap_.data();
  capacity_ = capacity;
  return true;
}

void MessageBuffer::cut(const char* text) noexcept {
  const std::size_t end = cut_at_ + kCutMarker.size();
  if (end > capacity_ && !grow(end)) {
    stop(bad_);
    return;
  }
  if (cut_at_ > used_) std::memcpy(data_ + used_, text, cut_at_ - used_);
  std::memcpy(data_ + cut_at_, kCutMarker.data(), kCutMarker.size());
  used_ = end;
  stop(full_);
}

void MessageBuffer::stop(bool& state) noexcept {
  state = true;
  capacity_ = used_;  // no room: every write takes the slow path, which drops it
}

void MessageBuffer::read_locale() {
  // Copying the global locale takes no lock while it is the classic one,
  // and the comparison is then a pointer comparison.
  static const std::locale& classic = std::locale::classic();
  const std::locale global;
  if (global == classic) {
    locale_ = Locale::Classic;
    newline_ = '\n';
  } else {
    locale_ = Locale::Other;
    newline_ = std::use_facet<std::ctype<char>>(global).widen('\n');
    other_ = global;
  }
}

MessageBuffer& MessageBuffer::operator<<(const char* text) {
  if (text == nullptr) {
    stop(bad_);
  } else {
    write(text, static_cast<std::streamsize>(std::char_traits<char>::length(text)));
  }
  return *this;
}

// Another locale may group digits or use another decimal point: let a
// stream in the locale read do the formatting.
template <class Number>
void MessageBuffer::format(Number value, std::ios_base::fmtflags base) {
  if (bad_) return;
  try {
    std::ostringstream stream;
    stream.imbue(*other_);
    stream.setf(base, std::ios_base::basefield);
    stream << value;
    const std::string text = stream.str();
    write(text.data(), static_cast<std::streamsize>(text.size()));
  } catch (...) {
    stop(bad_);
  }
}

MessageBuffer& MessageBuffer::operator<<(long long value) {
  if (!classic()) {
    format(value, std::ios_base::dec);
    return *this;
  }
  char digits[24];
  const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  write(digits, end - digits);
  return *this;
}

MessageBuffer& MessageBuffer::operator<<(double value) {
  if (!classic()) {
    format(value, std::ios_base::dec);
    return *this;
  }
  // Precision 6 in the general format is "%g", as the stream's default is;
  // the longest result is "-2.22507e-308" or "-nan".
  char digits[32];
  const auto end =
      std::to_chars(digits, digits + sizeof digits, value, std::chars_format::general, 6).ptr;
  write(digits, end - digits);
  return *this;
}

void MessageBuffer::address(std::uintptr_t value) {
  if (!classic()) {
    format(value, std::ios_base::hex);
    return;
  }
  char digits[2 * sizeof value];
  const auto end = std::to_chars(digits, digits + sizeof digits, value, 16).ptr;
  write(digits, end - digits);
}

}  // namespace quelto::utils
