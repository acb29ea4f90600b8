// A standard output stream for the renderer's writers, whose text is handed
// out in place, without the copy that `str()` would make. The tests render
// into it and into the module's `MessageBuffer` and compare: the stream's
// own formatting is the reference the buffer must match.
#pragma once

#include <cstdint>
#include <ostream>
#include <sstream>
#include <string_view>

namespace quelto::utils {

/// A string buffer that shows where its text starts and ends. Opened for input
/// and output, so that every (re)allocation of its array lays the get area over
/// it: `eback()` is then the first character written.
class _Stream_compat_buffer : public std::stringbuf {
 public:
  _Stream_compat_buffer() = default;
  ~_Stream_compat_buffer() override;

  char* eback() const { return std::stringbuf::eback(); }
  char* pptr() const { return std::stringbuf::pptr(); }
};

/// An `std::ostringstream` whose output goes to `compatBuffer`. The base's own
/// buffer is never written; reach the text through `getBuffPtr()` or `text()`.
///
///   utils::BufferStream s;
///   s << "answer: " << 42;
///   s.text();  // "answer: 42"
class BufferStream : public std::ostringstream {
 public:
  BufferStream() { std::ios::rdbuf(&compatBuffer); }
  ~BufferStream() override;

  BufferStream(const BufferStream&) = delete;
  BufferStream& operator=(const BufferStream&) = delete;

  /// The first character written so far, or null while nothing has been
  /// written (the buffer allocates its array on the first write).
  char* getBuffPtr() { return compatBuffer.eback(); }

  /// The text written so far, up to the put position and ending before the
  /// first NUL. Right also for a stream that went bad before its closing NUL
  /// was put, and empty for a stream that never got an array.
  std::string_view text() const;

 private:
  _Stream_compat_buffer compatBuffer;
};

/// The end of a line: the stream's newline, then a flush.
template <class Stream>
void write_newline(Stream& stream) {
  stream << std::endl;
}

/// An address in lower-case hexadecimal; the base applies to it alone.
template <class Stream>
void write_address(Stream& stream, std::uintptr_t address) {
  const auto flags = stream.flags();
  stream.setf(std::ios_base::hex, std::ios_base::basefield);
  stream << address;
  stream.flags(flags);
}

}  // namespace quelto::utils
