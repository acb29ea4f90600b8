// Constant texts of the renderer. Compile-time constants: nothing to build
// before the first log call or to destroy while threads may still log.
#pragma once

#include <string_view>

namespace quelto::utils {

inline constexpr std::string_view kNewline = "\n";
inline constexpr std::string_view kEscapedNewline = "\\n";  // backslash, letter n
/// The end of a message cut at its byte bound.
inline constexpr std::string_view kCutMarker = "<truncated>";

}  // namespace quelto::utils
