// Strings written so that they cannot forge a line or drive a terminal: no
// byte below 0x20, no 0x7F and no byte of invalid UTF-8 comes out raw.
//
//   "a\nb"       ->  a\nb          (backslash, letter n)
//   "\27[31m"    ->  \x1b[31m
//   "caf\xc3\xa9" -> café          (valid UTF-8 unchanged)
//   "\xff"       ->  \xff          (invalid UTF-8)
//   "say \"hi\"" ->  say \"hi\"    (inside quotes only)
//
// A backslash is doubled, so two different texts never give the same
// escaped text, and the escapes read back as Lua string escapes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "stream_ops.h"

namespace quelto::utils {

/// Writes the `size` bytes at `text` escaped: `\n`, `\r`, `\t`, `\\`, `\"`
/// when `quoted`, `\xNN` (lower-case hex) for every other byte below 0x20,
/// 0x7F and every byte that is not part of a valid UTF-8 sequence (overlong
/// forms, surrogates and code points past U+10FFFF included). Stops early
/// once a bound cut the output; an escape is never cut.
template <class Stream>
void write_escaped(const char* text, std::size_t size, bool quoted, Stream& stream);

/// True when `write_escaped` (outside quotes) would change the text.
inline bool escaping_changes(const char* text, std::size_t size);

// ---------------------------------------------------------------------------

namespace detail {

/// What a byte asks of the escaping writer.
enum ByteClass : std::uint8_t {
  kPlain,    // printable ASCII: as it is
  kQuote,    // '"': escaped inside quotes only
  kEscaped,  // control, DEL, backslash, a byte no valid sequence starts with
  kLead2,    // the first byte of a 2-byte sequence
  kLead3,    // of a 3-byte sequence
  kLead4,    // of a 4-byte sequence
};

constexpr std::array<std::uint8_t, 256> make_byte_classes() {
  std::array<std::uint8_t, 256> classes{};
  for (int b = 0; b < 256; ++b) {
    std::uint8_t c = kEscaped;
    if (b >= 0x20 && b < 0x7F) c = kPlain;
    if (b == '"') c = kQuote;
    if (b == '\\') c = kEscaped;
    if (b >= 0xC2 && b <= 0xDF) c = kLead2;
    if (b >= 0xE0 && b <= 0xEF) c = kLead3;
    if (b >= 0xF0 && b <= 0xF4) c = kLead4;
    classes[static_cast<std::size_t>(b)] = c;
  }
  return classes;
}

inline constexpr std::array<std::uint8_t, 256> kByteClasses = make_byte_classes();

inline bool in_range(unsigned char byte, unsigned char low, unsigned char high) {
  return byte >= low && byte <= high;
}

/// The length of the valid UTF-8 sequence at `p` whose lead byte has class
/// `lead`, or 0 when the bytes up to `end` do not complete one.
inline std::size_t utf8_sequence(const unsigned char* p, const unsigned char* end,
                                 std::uint8_t lead) {
  const auto n = static_cast<std::size_t>(lead - kLead2 + 2);
  if (static_cast<std::size_t>(end - p) < n) return 0;
  // The second byte's range rules out overlong forms, surrogates and code
  // points past U+10FFFF.
  unsigned char low = 0x80, high = 0xBF;
  if (p[0] == 0xE0) low = 0xA0;
  if (p[0] == 0xED) high = 0x9F;
  if (p[0] == 0xF0) low = 0x90;
  if (p[0] == 0xF4) high = 0x8F;
  if (!in_range(p[1], low, high)) return 0;
  for (std::size_t i = 2; i < n; ++i) {
    if (!in_range(p[i], 0x80, 0xBF)) return 0;
  }
  return n;
}

/// Writes the escape of `byte`.
template <class Stream>
void write_escape(unsigned char byte, Stream& stream) {
  char escape[4] = {'\\', 0, 0, 0};
  std::size_t size = 2;
  switch (byte) {
    case '\n':
      escape[1] = 'n';
      break;
    case '\r':
      escape[1] = 'r';
      break;
    case '\t':
      escape[1] = 't';
      break;
    case '\\':
      escape[1] = '\\';
      break;
    case '"':
      escape[1] = '"';
      break;
    default:
      escape[1] = 'x';
      escape[2] = "0123456789abcdef"[byte >> 4];
      escape[3] = "0123456789abcdef"[byte & 0xF];
      size = 4;
  }
  write_whole(stream, escape, size);
}

/// Plain stretches are written in chunks of this many bytes at most, so
/// that a bound stops the scan of a huge string soon after it is reached.
constexpr std::size_t kEscapeChunk = 4096;

}  // namespace detail

inline bool escaping_changes(const char* text, std::size_t size) {
  const auto* p = reinterpret_cast<const unsigned char*>(text);
  const auto* const end = p + size;
  while (p < end) {
    const std::uint8_t kind = detail::kByteClasses[*p];
    if (kind == detail::kPlain || kind == detail::kQuote) {
      ++p;
    } else if (const std::size_t n =
                   kind >= detail::kLead2 ? detail::utf8_sequence(p, end, kind) : 0;
               n != 0) {
      p += n;
    } else {
      return true;
    }
  }
  return false;
}

template <class Stream>
void write_escaped(const char* text, std::size_t size, bool quoted, Stream& stream) {
  const auto* p = reinterpret_cast<const unsigned char*>(text);
  const auto* const end = p + size;
  while (p < end) {
    const auto* const chunk_end =
        static_cast<std::size_t>(end - p) > detail::kEscapeChunk ? p + detail::kEscapeChunk : end;
    const auto* run = p;  // the plain stretch not written yet
    while (p < chunk_end) {
      const std::uint8_t kind = detail::kByteClasses[*p];
      if (kind == detail::kPlain || (kind == detail::kQuote && !quoted)) {
        ++p;
        continue;
      }
      if (kind >= detail::kLead2) {
        if (const std::size_t n = detail::utf8_sequence(p, end, kind); n != 0) {
          p += n;  // may pass chunk_end: the sequence stays whole
          continue;
        }
      }
      stream.write(reinterpret_cast<const char*>(run), p - run);
      detail::write_escape(*p, stream);
      run = ++p;
    }
    stream.write(reinterpret_cast<const char*>(run), p - run);
    if (is_full(stream)) return;
  }
}

}  // namespace quelto::utils
