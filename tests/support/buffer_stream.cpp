#include "buffer_stream.h"

#include <cstring>

namespace quelto::utils {

_Stream_compat_buffer::~_Stream_compat_buffer() = default;

BufferStream::~BufferStream() = default;

std::string_view BufferStream::text() const {
  const char* begin = compatBuffer.eback();
  if (begin == nullptr) return {};
  const auto written = static_cast<std::size_t>(compatBuffer.pptr() - begin);
  const void* nul = std::memchr(begin, '\0', written);
  return {begin, nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - begin) : written};
}

}  // namespace quelto::utils
