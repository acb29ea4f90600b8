#include "message_buffer.h"

#include <algorithm>
#include <charconv>
#include <locale>
#include <new>
#include <sstream>

namespace quelto::utils {

MessageBuffer::MessageBuffer() {
  // Copying the global locale takes no lock while it is the classic one,
  // and the comparison is then a pointer comparison.
  const std::locale global;
  classic_ = global == std::locale::classic();
  newline_ = classic_ ? '\n' : std::use_facet<std::ctype<char>>(global).widen('\n');
  text_.resize(text_.capacity());  // the string's inline space: no allocation
}

void MessageBuffer::append(const char* text, std::size_t size) noexcept {
  if (bad_) return;
  try {
    text_.resize(std::max(used_ + size, 2 * text_.size()));  // doubles, as a stream's buffer
  } catch (...) {  // a failed allocation, as the stream's buffer reports it
    bad_ = true;
    return;
  }
  std::memcpy(&text_[used_], text, size);
  used_ += size;
}

MessageBuffer& MessageBuffer::operator<<(const char* text) {
  if (text == nullptr) {
    bad_ = true;
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
    append(text.data(), text.size());
  } catch (...) {
    bad_ = true;
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
