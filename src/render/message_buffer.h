// The text a log message is rendered into, behind the few stream operations
// that the writers use, and handed to log4cpp as a string.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <ios>
#include <locale>
#include <optional>
#include <string>
#include <string_view>

#include "constants.h"

namespace quelto::utils {

/// Receives the same writes as a `BufferStream` and holds the same text
/// afterwards: numbers, addresses and line ends come out as the standard
/// stream formats them in the global locale of the moment the first of them
/// is written, and once the buffer is bad (a null text, a failed allocation,
/// a `setstate`) every later write is dropped. What it saves is the stream:
/// no stream object to build, no sentry per write, numbers formatted in
/// place (by hand for the classic locale, through a stream otherwise), and
/// no heap block for a common record until it is handed on as a string.
///
///   utils::MessageBuffer b;
///   b << "answer: " << 42LL;
///   b.text();  // "answer: 42"
class MessageBuffer {
 public:
  /// The room inside the buffer, for common records: a longer text moves to
  /// the heap, and grows there.
  static constexpr std::size_t kInlineBytes = 512;

  MessageBuffer() = default;
  MessageBuffer(const MessageBuffer&) = delete;
  MessageBuffer& operator=(const MessageBuffer&) = delete;

  void write(const char* text, std::streamsize size) {
    add(text, static_cast<std::size_t>(size), true);
  }
  /// As `write`, for a text that must not be cut, such as an escape: a
  /// text that does not fit in the bound is left out whole.
  void write_whole(const char* text, std::streamsize size) {
    add(text, static_cast<std::size_t>(size), false);
  }
  void put(char c) { add(&c, 1, true); }
  /// Any state other than good makes the buffer bad for good.
  void setstate(std::ios_base::iostate state) {
    if (state != std::ios_base::goodbit) stop(bad_);
  }
  bool bad() const { return bad_; }

  /// Bounds the text to `max_bytes` (at least `kCutMarker.size()`): a text
  /// that would grow past it is cut at `max_bytes - kCutMarker.size()` bytes
  /// or a little before, never inside a UTF-8 sequence or a whole write,
  /// the marker follows, and every later write is dropped. Called before
  /// the first write.
  void set_bound(std::size_t max_bytes);
  /// True once the text was cut: the writers stop there.
  bool full() const { return full_; }

  /// A NUL-terminated text; a null pointer makes the buffer bad.
  MessageBuffer& operator<<(const char* text);
  /// In decimal, as the stream writes a `long long`.
  MessageBuffer& operator<<(long long value);
  /// As the stream writes a `double` by default: printf's "%g".
  MessageBuffer& operator<<(double value);

  /// The stream's end of line: its newline character (the flush has
  /// nothing to do for a string).
  void newline() {
    classic();  // reads the newline with the locale
    put(newline_);
  }
  /// Lower-case hexadecimal digits, as the stream writes it in hex mode.
  void address(std::uintptr_t value);

  /// The text written so far, in place. Later writes may move it; the
  /// buffer stays writable.
  std::string_view text() const { return {data_, used_}; }

 private:
  static constexpr std::size_t kUnknown = static_cast<std::size_t>(-1);
  enum class Locale : unsigned char { Unread, Classic, Other };

  /// Copies the text into the room left, or takes the slow path.
  void add(const char* text, std::size_t size, bool divisible) {
    if (size <= capacity_ - used_) {
      std::memcpy(data_ + used_, text, size);
      used_ += size;
    } else {
      append(text, size, divisible);
    }
  }
  /// The slow path of a write: grows the room up to `limit()`, or cuts the
  /// text (a `divisible` one at a UTF-8 boundary), or does nothing once the
  /// buffer is bad or full.
  void append(const char* text, std::size_t size, bool divisible) noexcept;
  /// Makes room for `capacity` bytes, the text kept: inside the buffer while
  /// they fit, on the heap otherwise. False where the heap has none.
  bool grow(std::size_t capacity) noexcept;
  /// Ends the text at `cut_at_` with the marker; `text`, the write that
  /// passes the bound, may hold the last bytes before the cut.
  void cut(const char* text) noexcept;
  /// Ends every later write: the buffer goes bad, or full after a cut.
  void stop(bool& state) noexcept;
  /// How far the room may grow before a write must decide on the cut: the
  /// room for the text beside the marker, until a write passes it; then the
  /// bound itself.
  std::size_t limit() const {
    return cut_at_ == kUnknown ? max_bytes_ - kCutMarker.size() : max_bytes_;
  }
  /// Notes whether the global locale is the classic one, and its newline.
  void read_locale();
  /// True when numbers are written by hand: the global locale is the classic one.
  bool classic() {
    if (locale_ == Locale::Unread) read_locale();
    return locale_ == Locale::Classic;
  }
  template <class Number>
  void format(Number value, std::ios_base::fmtflags base);

  // The text is the first `used_` bytes at `data_`, which is `inline_` or
  // the heap block of `heap_`; `capacity_` bytes are there, never more than
  // `limit()`, so a write checks the room alone. A bad or full buffer has
  // no room left.
  char* data_ = inline_;
  std::size_t used_ = 0;
  std::size_t capacity_ = kInlineBytes;
  bool bad_ = false;
  bool full_ = false;
  // Read at the first number, address or line end: a call that writes none
  // never looks at the locale. Another locale than the classic one is kept
  // for the numbers that follow.
  Locale locale_ = Locale::Unread;
  char newline_ = '\n';
  std::optional<std::locale> other_;
  // The bound on the text, marker included, and where a cut goes: set by
  // the first write that passes the room beside the marker, at the start of
  // that write, or as far into it as whole UTF-8 sequences go.
  std::size_t max_bytes_ = kUnknown;
  std::size_t cut_at_ = kUnknown;
  // The text once it outgrows `inline_`.
  std::string heap_;
  char inline_[kInlineBytes];
};

}  // namespace quelto::utils
