#include "priorities.h"

#include <cstring>
#include <string>

namespace quelto::backend {

std::optional<int> priority_named(const char* name, std::size_t length) noexcept {
  for (const int value : kNamedPriorities) {
    const std::string& known = log4cpp::Priority::getPriorityName(value);  // log4cpp's own
    if (known.size() == length && std::memcmp(known.data(), name, length) == 0) return value;
  }
  if (length == sizeof kEmergName - 1 && std::memcmp(kEmergName, name, length) == 0) {
    return log4cpp::Priority::EMERG;
  }
  return std::nullopt;
}

}  // namespace quelto::backend
