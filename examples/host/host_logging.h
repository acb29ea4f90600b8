// The host's own log4cpp setup, made in code rather than from a properties
// file, as a service that already logs through log4cpp has it.
#pragma once

#include <ostream>

namespace host {

/// Sends every category's records at INFO and above to `out`, one line each:
/// "PRIORITY category: message". Categories created later, by the host or by
/// a script's `get_log`, inherit the root's priority and appender.
void setup_logging(std::ostream& out);

/// Flushes and closes the appenders.
void shutdown_logging();

}  // namespace host
