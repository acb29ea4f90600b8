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
// The first %s is kFileSource's text, or kTextSource.
inline constexpr char kConfigureTooLarge[] = "%s is larger than %ld bytes";
inline constexpr char kConfigureTooDeep[] = "%s names a category of more than %d levels";
inline constexpr char kFileSource[] = "File %s";
inline constexpr char kTextSource[] = "The text";
// What configure refuses of a file that log4cpp would take (after kConfigureFailure).
inline constexpr char kConfigureNoFileName[] = "Appender '%s' has no fileName";
inline constexpr char kConfigureFileWaits[] =
    "Appender '%s' would wait to open %s: a FIFO that no process reads";
// Operations that give up waiting (configure's after kConfigureFailure).
inline constexpr char kGaveUpOnRecord[] =
    "%s gave up after %d s waiting for a record being written to %s";
inline constexpr char kGaveUpOnTurn[] =
    "%s gave up after %d s waiting for another configure, reopen or set_priority";
inline constexpr char kProcessExiting[] = "%s: the process is exiting";
inline constexpr char kFifoWithoutReader[] =
    "appender '%s' was not reopened: %s is a FIFO with no reader";
inline constexpr char kNotReopened[] = "appender '%s' did not reopen";
inline constexpr char kSyslogHostUnresolved[] =
    "appender '%s': syslogHost '%s' does not resolve to an IPv4 address";
inline constexpr char kSyslogHostTimedOut[] =
    "appender '%s': syslogHost '%s' did not resolve within %d s";

// The asynchronous mode's notice, in the queue (async_queue.h).
inline constexpr char kDroppedRecords[] = "%llu records dropped: the log queue was full";

// The module's own keys of a properties file (after kConfigureFailure).
inline constexpr char kUnknownModuleKey[] = "unknown key '%s'";
inline constexpr char kBadModuleValue[] = "key '%s' must be %s, got '%s'";
inline constexpr char kUndefinedAppender[] = "key '%s' names appender '%s', which is not defined";

// Logger options (get_log, set_defaults).
inline constexpr char kOptionName[] = "logger option names are strings, got a %s";
inline constexpr char kUnknownOption[] = "unknown logger option '%s'";
inline constexpr char kBadOptionValue[] = "logger option '%s' must be %s, got %s";

// Logger methods.
inline constexpr char kForgedLogger[] =
    "QueltoLogger expected, got another userdata with the logger metatable";
inline constexpr char kPriorityName[] = "priority name or integer expected, got '%s'";
inline constexpr char kRootKeepsPriority[] = "set_priority: the root category must keep a priority";

// Any entry point (the guard).
inline constexpr char kStackOverflow[] = "C stack overflow";
inline constexpr char kOutOfMemory[] = "not enough memory";
inline constexpr char kUnknownException[] = "unknown C++ exception";

// Arguments, in the words of Lua 5.3's own check.
inline constexpr char kNoInteger[] = "number has no integer representation";

// Loading.
inline constexpr char kMethodsDoNotLoad[] = "quelto_internal: the LuaJIT methods do not load: %s";

}  // namespace quelto::messages
