// Configuring log4cpp from a properties file, again and again, from any
// thread, without leaking what each configuration replaces.
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
// What log4cpp gives no way to find again, and so stays open until the
// process ends: an appender that the file defines but no category uses, and
// the appenders of a configuration that fails after creating them.
#pragma once

#include <string>

namespace quelto::backend {

/// Sets log4cpp up from the properties file at `path`, holding the
/// process-wide lock alone, then releases the appenders of earlier
/// configurations that are now attached to no category. Throws what log4cpp's
/// configurator throws (`log4cpp::ConfigureFailure` for a file it rejects);
/// what it attached before failing is kept and owned like a success's.
void configure_from_file(const std::string& path);

}  // namespace quelto::backend
