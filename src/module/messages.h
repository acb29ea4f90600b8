// The fixed texts of the errors the module raises itself.
#pragma once

namespace quelto::messages {

inline constexpr char kGetLogArgument[] = "Argument to get_log must be nil or a log module name";
inline constexpr char kGetLogTooDeep[] = "Argument to get_log has more than %d levels";
inline constexpr char kConfigureFailure[] = "log4cpp configure failure: ";
inline constexpr char kConfigureUnknownFailure[] = "log4cpp configure unknown failure: ";

}  // namespace quelto::messages
