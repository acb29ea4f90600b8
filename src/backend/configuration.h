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
/// (read_properties, check_properties), holding the process-wide lock alone,
/// and releases the appenders of earlier configurations that are now
/// attached to no category. After a successful run, still alone, puts the
/// JSON layout on the appenders the text's module keys name (json_layout.h)
/// and calls `on_success`, which must throw nothing: what the caller applies
/// of the text's module settings, so that no other configuration comes in
/// between. Throws what log4cpp's configurator throws
/// (`log4cpp::ConfigureFailure` for a text it rejects), having put every
/// category back as it was before the call.
void configure(const PropertiesFile& properties, const std::function<void()>& on_success = {});

/// `configure` from the properties file at `path` (read_properties).
void configure_from_file(const std::string& path);

/// Reopens every appender attached to any category (for log rotation),
/// holding the process-wide lock alone. True when each one reopened.
bool reopen_appenders();

}  // namespace quelto::backend
