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

MessageBuffer::MessageBuffer() {
  // Copying the global locale takes no lock while it is the classic one,
  // and the comparison is then a pointer comparison.
  const std::locale global;
  classic_ = global == std::locale::classic();
  newline_ = classic_ ? '\n' : std::use_facet<std::ctype<char>>(global).widen('\n');
  text_.resize(text_.capacity());  // the string's inline space: no allocation
}

void MessageBuffer::set_bound(std::size_t max_bytes) {
  max_bytes_ = std::max(max_bytes, kCutMarker.size());
  if (text_.size() > limit()) text_.resize(std::max(limit(), used_));
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
  try {
    // Doubles, as a stream's buffer, up to the limit.
    text_.resize(std::min(std::max(used_ + size, 2 * text_.size()), limit()));
  } catch (...) {  // a failed allocation, as the stream's buffer reports it
    stop(bad_);
    return;
  }
  std::memcpy(&text_[used_], text, size);
  used_ += size;
}

void MessageBuffer::cut(const char* text) noexcept {
  try {
    text_.resize(cut_at_ + kCutMarker.size());
  } catch (...) {
    stop(bad_);
    return;
  }
  if (cut_at_ > used_) std::memcpy(&text_[used_], text, cut_at_ - used_);
  std::memcpy(&text_[cut_at_], kCutMarker.data(), kCutMarker.size());
  used_ = text_.size();
  stop(full_);
}

void MessageBuffer::stop(bool& state) noexcept {
  state = true;
  text_.resize(used_);  // no room: every write takes the slow path, which drops it
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
// stream built now, in that locale, do the formatting.
template <class Number>
void MessageBuffer::format(Number value, std::ios_base::fmtflags base) {
  if (bad_) return;
  try {
    std::ostringstream stream;
    stream.setf(base, std::ios_base::basefield);
    stream << value;
    const std::string text = stream.str();
    write(text.data(), static_cast<std::streamsize>(text.size()));
  } catch (...) {
    stop(bad_);
  }
}

MessageBuffer& MessageBuffer::operator<<(long long value) {
  if (!classic_) {
    format(value, std::ios_base::dec);
    return *this;
  }
  char digits[24];
  const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  write(digits, end - digits);
  return *this;
}

MessageBuffer& MessageBuffer::operator<<(double value) {
  if (!classic_) {
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
  if (!classic_) {
    format(value, std::ios_base::hex);
    return;
  }
  char digits[2 * sizeof value];
  const auto end = std::to_chars(digits, digits + sizeof digits, value, 16).ptr;
  write(digits, end - digits);
}

}  // namespace quelto::utils
