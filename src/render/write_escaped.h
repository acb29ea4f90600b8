// Strings written so that they cannot forge a line or drive a terminal: no
// byte below 0x20, no 0x7F and no byte of invalid UTF-8 comes out raw, and
// neither do the characters that end a line or drive a terminal or the text's
// direction in their UTF-8 form (C1 controls, U+2028, U+2029, the
// bidirectional controls).
//
//   "a\nb"       ->  a\nb          (backslash, letter n)
//   "\27[31m"    ->  \x1b[31m
//   "caf\xc3\xa9" -> café          (valid UTF-8 unchanged)
//   "\xff"       ->  \xff          (invalid UTF-8)
//   "\xc2\x9b"   ->  \xc2\x9b      (U+009B, the 8-bit CSI)
//   "say \"hi\"" ->  say \"hi\"    (inside quotes only)
//
// A backslash is doubled, so two different texts never give the same
// escaped text, and the escapes read back as Lua string escapes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "stream_ops.h"

namespace quelto::utils {

/// Writes the `size` bytes at `text` escaped: `\n`, `\r`, `\t`, `\\`, `\"`
/// when `quoted`, `\xNN` (lower-case hex) for every other byte below 0x20,
/// 0x7F, every byte that is not part of a valid UTF-8 sequence (overlong
/// forms, surrogates and code points past U+10FFFF included) and every byte of
/// a sequence that `is_unsafe_sequence` names. Stops early once a bound cut
/// the output; an escape is never cut.
template <class Stream>
void write_escaped(const char* text, std::size_t size, bool quoted, Stream& stream);

/// True when `write_escaped` outside quotes would not write the text as it
/// is; with `or_space`, also when the text holds a space.
inline bool escaping_changes(const char* text, std::size_t size, bool or_space = false);

/// Writes the `size` bytes at `text` as the inside of a JSON string: `\"`,
/// `\\`, `\b`, `\f`, `\n`, `\r`, `\t`, `\u00NN` for every other byte below
/// 0x20 and for 0x7F, `\uNNNN` for the characters `is_unsafe_sequence`
/// names, and U+FFFD in place of every byte that is not part of a valid UTF-8
/// sequence; valid UTF-8 otherwise unchanged. Stops early once a bound cut
/// the output; an escape or a character is never cut.
///
///   "a\"b\n\xc2\x85\xff"  ->  a\"b\n\u0085\xef\xbf\xbd
template <class Stream>
void write_json_escaped(const char* text, std::size_t size, Stream& stream);

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

/// 1 for the bytes that pass unchanged by themselves: printable ASCII but the
/// backslash, and but `other` (none for 0).
constexpr std::array<std::uint8_t, 256> make_plain(char other) {
  std::array<std::uint8_t, 256> plain{};
  for (int b = 0x20; b < 0x7F; ++b) {
    plain[static_cast<std::size_t>(b)] = b != '\\' && b != other;
  }
  return plain;
}
inline constexpr std::array<std::uint8_t, 256> kPlainOutside = make_plain(0);
inline constexpr std::array<std::uint8_t, 256> kPlainInQuotes = make_plain('"');
inline constexpr std::array<std::uint8_t, 256> kPlainButSpace = make_plain(' ');

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

/// True for the valid UTF-8 sequence of `n` bytes at `p` when it encodes a
/// character that must not come out raw although it is valid: a C1 control
/// (U+0080 to U+009F: NEL ends a line, U+009B is the 8-bit CSI), the line and
/// paragraph separators U+2028 and U+2029, and the bidirectional controls
/// U+202A to U+202E and U+2066 to U+2069, which reorder what a reader sees.
inline bool is_unsafe_sequence(const unsigned char* p, std::size_t n) {
  if (n == 2) return p[0] == 0xC2 && p[1] < 0xA0;
  if (n != 3 || p[0] != 0xE2) return false;
  return (p[1] == 0x80 && p[2] >= 0xA8 && p[2] <= 0xAE) ||
         (p[1] == 0x81 && p[2] >= 0xA6 && p[2] <= 0xA9);
}

/// The length of the sequence at `p` that passes unchanged: a valid one that
/// `is_unsafe_sequence` does not name; 0 when its bytes must be escaped.
inline std::size_t safe_sequence(const unsigned char* p, const unsigned char* end,
                                 std::uint8_t lead) {
  const std::size_t n = utf8_sequence(p, end, lead);
  return n != 0 && !is_unsafe_sequence(p, n) ? n : 0;
}

/// The escape of every byte: its length, then its text.
constexpr std::array<std::array<char, 5>, 256> make_escapes() {
  std::array<std::array<char, 5>, 256> escapes{};
  for (int b = 0; b < 256; ++b) {
    auto& e = escapes[static_cast<std::size_t>(b)];
    const char named = b == '\n'   ? 'n'
                       : b == '\r' ? 'r'
                       : b == '\t' ? 't'
                       : b == '\\' ? '\\'
                       : b == '"'  ? '"'
                                   : 0;
    e = named != 0 ? std::array<char, 5>{2, '\\', named}
                   : std::array<char, 5>{4, '\\', 'x', "0123456789abcdef"[b >> 4],
                                         "0123456789abcdef"[b & 0xF]};
  }
  return escapes;
}

inline constexpr std::array<std::array<char, 5>, 256> kEscapes = make_escapes();

/// Writes the escape of `byte`.
template <class Stream>
void write_escape(unsigned char byte, Stream& stream) {
  const std::array<char, 5>& escape = kEscapes[byte];
  write_whole(stream, &escape[1], static_cast<std::size_t>(escape[0]));
}

/// The JSON escape of every ASCII byte that has one: its length, then its text.
constexpr std::array<std::array<char, 7>, 128> make_json_escapes() {
  std::array<std::array<char, 7>, 128> escapes{};
  for (int b = 0; b < 128; ++b) {
    const char named = b == '"'    ? '"'
                       : b == '\\' ? '\\'
                       : b == '\b' ? 'b'
                       : b == '\f' ? 'f'
                       : b == '\n' ? 'n'
                       : b == '\r' ? 'r'
                       : b == '\t' ? 't'
                                   : 0;
    auto& e = escapes[static_cast<std::size_t>(b)];
    e = named != 0
            ? std::array<char, 7>{2, '\\', named}
            : std::array<char, 7>{
                  6, '\\', 'u', '0', '0', "0123456789abcdef"[b >> 4], "0123456789abcdef"[b & 0xF]};
  }
  return escapes;
}

inline constexpr std::array<std::array<char, 7>, 128> kJsonEscapes = make_json_escapes();

/// Writes the JSON escape of the character the unsafe sequence of `n` bytes
/// at `p` encodes (is_unsafe_sequence): `\u` and its code point.
template <class Stream>
void write_json_code_point(const unsigned char* p, std::size_t n, Stream& stream) {
  const unsigned code = n == 2 ? (p[0] & 0x1Fu) << 6 | (p[1] & 0x3Fu)
                               : (p[0] & 0x0Fu) << 12 | (p[1] & 0x3Fu) << 6 | (p[2] & 0x3Fu);
  constexpr char kHex[] = "0123456789abcdef";
  const char escape[6] = {
      '\\', 'u', kHex[code >> 12], kHex[code >> 8 & 0xF], kHex[code >> 4 & 0xF], kHex[code & 0xF]};
  write_whole(stream, escape, sizeof escape);
}

/// True when none of the 8 bytes at `p` needs a look of its own: all
/// printable ASCII but the backslash (and the quote when `quoted`, the space
/// when `space`). The tests for a byte below a bound or equal to a value are
/// exact for "any".
inline bool plain_word(const unsigned char* p, bool quoted, bool space = false) {
  constexpr std::uint64_t kOnes = 0x0101010101010101u;
  constexpr std::uint64_t kHighs = 0x8080808080808080u;
  std::uint64_t word;
  std::memcpy(&word, p, sizeof word);
  const auto has_zero = [](std::uint64_t v) { return (v - kOnes) & ~v & kHighs; };
  std::uint64_t flagged = word & kHighs;              // not ASCII
  flagged |= (word - kOnes * 0x20) & ~word & kHighs;  // a control byte
  flagged |= has_zero(word ^ (kOnes * 0x7F)) | has_zero(word ^ (kOnes * '\\'));
  if (quoted) flagged |= has_zero(word ^ (kOnes * '"'));
  if (space) flagged |= has_zero(word ^ (kOnes * ' '));
  return flagged == 0;
}

/// Plain stretches are written in chunks of this many bytes at most, so
/// that a bound stops the scan of a huge string soon after it is reached.
constexpr std::size_t kEscapeChunk = 4096;

}  // namespace detail

inline bool escaping_changes(const char* text, std::size_t size, bool or_space) {
  const auto& plain = or_space ? detail::kPlainButSpace : detail::kPlainOutside;
  const auto* p = reinterpret_cast<const unsigned char*>(text);
  const auto* const end = p + size;
  for (;;) {
    while (end - p >= 8 && detail::plain_word(p, false, or_space)) p += 8;
    while (p < end && plain[*p]) ++p;
    if (p == end) return false;
    const std::uint8_t kind = detail::kByteClasses[*p];
    const std::size_t n = kind >= detail::kLead2 ? detail::safe_sequence(p, end, kind) : 0;
    if (n == 0) return true;
    p += n;
  }
}

namespace detail {

/// The loop both escaping writers share: plain bytes (those `plain` marks,
/// and valid UTF-8 sequences that `is_unsafe_sequence` does not name) are
/// written in runs, in chunks of kEscapeChunk bytes at most so that a bound
/// stops the scan soon after it is reached; at each other byte,
/// `escape(p, n, stream)` writes its escape (`n` is the length of the valid
/// sequence it starts, 0 for none) and returns how many bytes it took.
template <class Stream, class Escape>
void write_with_escapes(const char* text, std::size_t size, bool quoted,
                        const std::array<std::uint8_t, 256>& plain, Stream& stream, Escape escape) {
  const auto* p = reinterpret_cast<const unsigned char*>(text);
  const auto* const end = p + size;
  for (;;) {
    const auto* const chunk_end =
        static_cast<std::size_t>(end - p) > kEscapeChunk ? p + kEscapeChunk : end;
    const auto* run = p;  // the stretch not written yet, which needs no escape
    for (;;) {
      while (chunk_end - p >= 8 && plain_word(p, quoted)) p += 8;
      while (p < chunk_end && plain[*p]) ++p;
      if (p >= chunk_end) break;
      const std::uint8_t kind = kByteClasses[*p];
      const std::size_t n = kind >= kLead2 ? utf8_sequence(p, end, kind) : 0;
      if (n != 0 && !is_unsafe_sequence(p, n)) {
        p += n;  // may pass chunk_end: the sequence stays whole
        continue;
      }
      stream.write(reinterpret_cast<const char*>(run), p - run);
      run = p += escape(p, n, stream);
    }
    stream.write(reinterpret_cast<const char*>(run), p - run);
    if (p >= end || is_full(stream)) return;
  }
}

}  // namespace detail

template <class Stream>
void write_escaped(const char* text, std::size_t size, bool quoted, Stream& stream) {
  // Each byte on its own, those of an unsafe sequence too.
  detail::write_with_escapes(text, size, quoted,
                             quoted ? detail::kPlainInQuotes : detail::kPlainOutside, stream,
                             [](const unsigned char* p, std::size_t, Stream& out) {
                               detail::write_escape(*p, out);
                               return std::size_t{1};
                             });
}

template <class Stream>
void write_json_escaped(const char* text, std::size_t size, Stream& stream) {
  detail::write_with_escapes(text, size, true, detail::kPlainInQuotes, stream,
                             [](const unsigned char* p, std::size_t n, Stream& out) {
                               if (n != 0) {
                                 detail::write_json_code_point(p, n, out);
                                 return n;
                               }
                               if (*p < 0x80) {
                                 const std::array<char, 7>& escape = detail::kJsonEscapes[*p];
                                 write_whole(out, &escape[1], static_cast<std::size_t>(escape[0]));
                               } else {
                                 write_whole(out, "\xef\xbf\xbd",
                                             3);  // U+FFFD for a byte of no valid sequence
                               }
                               return std::size_t{1};
                             });
}

}  // namespace quelto::utils
