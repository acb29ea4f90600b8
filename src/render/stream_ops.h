// The two writes whose form depends on the kind of output: a line end and
// an address. Standard streams take the manipulators; a `MessageBuffer`
// has both as operations of its own, with the same result.
#pragma once

#include <cstdint>
#include <ostream>

#include "message_buffer.h"

namespace utils {

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

inline void write_newline(MessageBuffer& buffer) {
  buffer.newline();
}

inline void write_address(MessageBuffer& buffer, std::uintptr_t address) {
  buffer.address(address);
}

}  // namespace utils
