// Constant texts of the renderer. Compile-time constants: nothing to build
// before the first log call or to destroy while threads may still log.
#pragma once

#include <string_view>

namespace quelto::utils {

inline constexpr std::string_view kNewline = "\n";
inline constexpr std::string_view kEscapedNewline = "\\n";  // backslash, letter n
/// The end of a message cut at its byte bound.
inline constexpr std::string_view kCutMarker = "<truncated>";
/// What stands for a table that encloses the one being written.
inline constexpr std::string_view kCycleMarker = "<cycle>";
/// What stands for a table that the depth bound or the Lua stack has no room for.
inline constexpr std::string_view kStackLimitMarker = "{<stack limit>}";
/// The name the module's own Lua code is loaded under: `location` looks past it.
inline constexpr char kModuleChunkName[] = "=quelto_internal";

}  // namespace quelto::utils
