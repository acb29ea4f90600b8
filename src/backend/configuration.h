// Configuring log4cpp from a properties file, again and again, from any
// thread, without leaking what each configuration replaces, and reopening
// the appenders in use.
//
// log4cpp's properties configurator creates a new set of appenders on every
// run and attaches them to the categories the file names, but never closes or
// frees the appenders they had before: a process that configures again on a
// signal would run out of descriptors. So the module remembers every
// appender a configuration of its own created (those attached, and by the
// names the file gives them, those it attached to nothing), and closes and
// frees one once no category holds it: an appender the file defines and no
// category uses, at once. Appenders it did not create (the host's own) are
// never touched, and neither is one that is still attached to any category.
//
// A file that log4cpp would refuse is refused before log4cpp sees it
// (properties_check.h), so it makes no appender. A configuration that fails
// all the same is undone: every category gets back the appenders, priority
// and additivity it had, and the appenders the failed run made are released.
#pragma once

#include <string>

namespace quelto::backend {

/// Sets log4cpp up from the properties file at `path`: reads and checks the
/// file first (read_properties), then configures from that text holding the
/// process-wide lock alone, and releases the appenders of earlier
/// configurations that are now attached to no category. Throws what
/// read_properties or log4cpp's configurator throws
/// (`log4cpp::ConfigureFailure` for a file it rejects), having put every
/// category back as it was before the call.
void configure_from_file(const std::string& path);

/// Reopens every appender attached to any category (for log rotation),
/// holding the process-wide lock alone. True when each one reopened.
bool reopen_appenders();

}  // namespace quelto::backend
