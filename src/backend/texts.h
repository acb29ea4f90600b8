// The fixed texts of lua/messages.h with their values filled in.
#pragma once

#include <cstdio>
#include <string>

namespace quelto::backend {

/// `text` (a printf format of messages.h) with `values` filled in. Throws
/// what allocating throws.
template <typename... Values>
std::string filled(const char* text, Values... values) {
  const int size = std::snprintf(nullptr, 0, text, values...);
  std::string message(static_cast<std::size_t>(size < 0 ? 0 : size), '\0');
  std::snprintf(message.data(), message.size() + 1, text, values...);
  return message;
}

}  // namespace quelto::backend
