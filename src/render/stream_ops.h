// The writes whose form depends on the kind of output: a line end, an
// address, and the byte bound that only the message buffer has. The writers are templates over
// their output and find these by argument-dependent lookup, so that a test can render into a
// standard stream (tests/support/buffer_stream.h) and compare.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ios>
#include <string_view>

#include "message_buffer.h"

namespace quelto::utils {

/// A literal or a view, written as it is.
template <class Stream, std::size_t N>
void put(Stream& stream, const char (&text)[N]) {
  stream.write(text, N - 1);
}
template <class Stream>
void put(Stream& stream, std::string_view text) {
  stream.write(text.data(), static_cast<std::streamsize>(text.size()));
}

/// The end of a line: the buffer's newline.
inline void write_newline(MessageBuffer& buffer) {
  buffer.newline();
}

/// An address in lower-case hexadecimal.
inline void write_address(MessageBuffer& buffer, std::uintptr_t address) {
  buffer.address(address);
}

/// True once the bound cut the text: the writers stop there.
inline bool is_full(const MessageBuffer& buffer) {
  return buffer.full();
}
template <class Stream>
bool is_full(const Stream&) {
  return false;
}

/// A text that a bound must not cut, such as an escape: all or nothing.
inline void write_whole(MessageBuffer& buffer, const char* text, std::size_t size) {
  buffer.write_whole(text, static_cast<std::streamsize>(size));
}
template <class Stream>
void write_whole(Stream& stream, const char* text, std::size_t size) {
  stream.write(text, static_cast<std::streamsize>(size));
}

}  // namespace quelto::utils
