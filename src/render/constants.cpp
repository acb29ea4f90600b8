#include "constants.h"

namespace utils {

const std::string empty_str;
const std::string newline_str("\n");
const std::string escaped_newline_str("\\n");

}  // namespace utils
