// Shared constant texts of the renderer.
#pragma once

#include <string>

namespace utils {

extern const std::string empty_str;            // ""
extern const std::string newline_str;          // "\n"
extern const std::string escaped_newline_str;  // "\\n": backslash, letter n

}  // namespace utils
