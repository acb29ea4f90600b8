// How a logger renders its messages: the options it was made with.
#pragma once

#include <cstddef>

namespace quelto::utils {

/// The dump with raw strings and no bound, unless a logger asks otherwise.
struct Style {
  enum class Format : unsigned char {
    Dump,  // tables as indented multi-line text (write_dump.h)
    Line,  // the whole message on one line, strings escaped (write_line.h)
    Json,  // one JSON object: the text and the tables' fields (json_message.h)
  };
  Format format = Format::Dump;
  /// Strings of the dump escaped (write_escaped.h); the line format always is.
  bool escape = false;
  /// A message longer than this is cut and ends with `kCutMarker`; 0 for none.
  std::size_t max_bytes = 0;
  /// The message starts with the calling Lua code's "file:line: " (JSON:
  /// member "src").
  bool location = false;
  /// An argument that is a function is called, and its first result written
  /// in its place.
  bool lazy = false;
  /// The line format and JSON write keys sorted (sorted_keys.h).
  bool sort_keys = false;
};

}  // namespace quelto::utils
