// The fixed texts of every error the module raises itself.
#pragma once

namespace quelto::messages {

// Module functions.
inline constexpr char kGetLogArgument[] = "Argument to get_log must be nil or a log module name";
inline constexpr char kGetLogTooDeep[] = "Argument to get_log has more than %d levels";
inline constexpr char kConfigureFailure[] = "log4cpp configure failure: ";
inline constexpr char kConfigureUnknownFailure[] = "log4cpp configure unknown failure: ";
// What configure refuses before log4cpp reads the file (after kConfigureFailure).
inline constexpr char kConfigureNoFile[] = "File %s does not exist";  // log4cpp's own text
inline constexpr char kConfigureNotRegular[] = "File %s is not a regular file";
inline constexpr char kConfigureTooLarge[] = "File %s is larger than %ld bytes";
inline constexpr char kConfigureTooDeep[] = "File %s names a category of more than %d levels";

// Any entry point (the guard).
inline constexpr char kOutOfMemory[] = "not enough memory";
inline constexpr char kUnknownException[] = "unknown C++ exception";

// Loading.
inline constexpr char kWrongInterpreter[] = "quelto_internal was built for %s and cannot run in %s";
inline constexpr char kMethodsDoNotLoad[] = "quelto_internal: the LuaJIT methods do not load: %s";

}  // namespace quelto::messages
