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

#include <functional>
#include <string>

namespace quelto::backend {

struct PropertiesFile;

/// Sets log4cpp up from a properties text read and checked before
/// (read_properties, check_properties): resolves its syslog hosts first
/// (syslog_hosts.h), then, the queue written out, configures from that text
/// holding the process-wide lock alone, releases the appenders of earlier
/// configurations that are now attached to no category, puts the module's
/// layouts in place (fast_layouts.h) and applies the module's own settings.
/// Last, still alone, it calls `on_success`, which must throw nothing: what
/// the caller applies of the text's module settings, so that no other
/// configuration comes in between. Throws what log4cpp's configurator
/// throws (`log4cpp::ConfigureFailure` for a text it rejects, or for a wait
/// it gave up), having put every category back as it was before the call.
void configure(PropertiesFile properties, const std::function<void()>& on_success = {});

/// `configure` from the properties file at `path` (read_properties).
void configure_from_file(const std::string& path);

/// Reopens every appender attached to any category (for log rotation), the
/// queue written out first, holding the process-wide lock alone. True when
/// each one reopened; otherwise `problems` says why, one "; " apart. A file
/// appender whose file is now a FIFO with no reader keeps its old
/// descriptor: opening it would wait for a reader for ever.
bool reopen_appenders(std::string& problems);

}  // namespace quelto::backend
