// How a logger renders its messages: the options it was made with.
#pragma once

#include <cstddef>

namespace quelto::utils {

/// The dump with raw strings and no bound, unless a logger asks otherwise.
struct Style {
  enum class Format : unsigned char {
    Dump,  // tables as indented multi-line text (write_dump.h)
    Line,  // the whole message on one line, strings escaped (write_line.h)
  };
  Format format = Format::Dump;
  /// Strings of the dump escaped (write_escaped.h); the line format always is.
  bool escape = false;
  /// A message longer than this is cut and ends with `kCutMarker`; 0 for none.
  std::size_t max_bytes = 0;
};

}  // namespace quelto::utils
