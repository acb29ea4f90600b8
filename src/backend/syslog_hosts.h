// The host names of a file's syslog appenders, resolved before the lock.
//
// log4cpp's SyslogAppender (its RemoteSyslogAppender) looks its syslogHost
// up with gethostbyname when the configurator makes it, and again at every
// reopen while that lookup failed: with a resolver that does not answer,
// `configure` and `reopen` would hold the process-wide lock, and every log
// call with it, for the resolver's timeout. So the module looks each name up
// itself first, without the lock and within the operation's deadline, and
// hands log4cpp the address it found, which log4cpp takes as it is.
#pragma once

#include "deadline.h"
#include "properties_file.h"

namespace quelto::backend {

/// Replaces, in `file.text`, the syslogHost of every SyslogAppender (its
/// default "localhost" included) that is not an IPv4 address with the
/// first IPv4 address it resolves to. Throws `log4cpp::ConfigureFailure`
/// naming the appender and the host for a name that does not resolve, or
/// not before `deadline`.
void resolve_syslog_hosts(PropertiesFile& file, Deadline deadline);

}  // namespace quelto::backend
