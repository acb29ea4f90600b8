// Configuring log4cpp from a properties file, again and again, from any
// thread, without leaking what each configuration replaces, and reopening
// the appenders in use.
//
// log4cpp's properties configurator creates a new set of appenders on every
// run and attaches them to the categories the file names, but never closes or
// frees the appenders they had before: a process that configures again on a
// signal would run out of descriptors. So the module remembers every
// appender a configuration of its own created, and once a later
// configuration has left one attached to no category, closes and frees it.
// Appenders it did not create (the host's own) are never touched, and
// neither is one that is still attached to any category.
//
// A configuration that fails is undone: every category gets back the
// appenders, priority and additivity it had, and the appenders the failed
// run attached are released. What log4cpp gives no way to find again, and so
// stays open until the process ends: an appender that the file defines but no
// category uses, successful or not.
#pragma once

#include <string>

namespace quelto::backend {

/// Sets log4cpp up from the properties file at `path`: reads and checks the
/// file first (read_properties) and resolves its syslog hosts, then, the
/// queue written out, configures from that text holding the process-wide
/// lock alone, releases the appenders of earlier configurations that are now
/// attached to no category, and applies the module's own settings. Throws
/// what read_properties or log4cpp's configurator throws
/// (`log4cpp::ConfigureFailure` for a file it rejects, or for a wait it gave
/// up), having put every category back as it was before the call.
void configure_from_file(const std::string& path);

/// Reopens every appender attached to any category (for log rotation), the
/// queue written out first, holding the process-wide lock alone. True when
/// each one reopened; otherwise `problems` says why, one "; " apart. A file
/// appender whose file is now a FIFO with no reader keeps its old
/// descriptor: opening it would wait for a reader for ever.
bool reopen_appenders(std::string& problems);

}  // namespace quelto::backend
