// The two writes whose form depends on the kind of output: a line end and an
// address. The writers are templates over their output and find these by
// argument-dependent lookup, so that a test can render into a standard
// stream (tests/support/buffer_stream.h) and compare.
#pragma once

#include <cstdint>

#include "message_buffer.h"

namespace quelto::utils {

/// The end of a line: the buffer's newline.
inline void write_newline(MessageBuffer& buffer) {
  buffer.newline();
}

/// An address in lower-case hexadecimal.
inline void write_address(MessageBuffer& buffer, std::uintptr_t address) {
  buffer.address(address);
}

}  // namespace quelto::utils
