// What log4cpp's property configurator will refuse, found before it makes
// anything.
//
// log4cpp 1.1.3's PropertyConfigurator makes every appender a file defines
// (opening its file, truncating it with append=false, opening a socket or
// the syslog connection) before it looks at a single category, and stops at
// the first error it meets: the appenders it made by then stay open, and a
// file it truncated has lost its records. So the module reads the keys as
// log4cpp will and refuses what log4cpp would refuse, with log4cpp's texts,
// before any appender exists. Where it cannot tell, it lets log4cpp decide:
// the configuration still undoes a failed run (configuration.h).
#pragma once

#include <map>
#include <set>
#include <string>

namespace quelto::backend {

/// A properties file's keys and values as log4cpp's reader makes them: keys
/// without their "log4cpp." or "log4j.", the first value of a key, `${name}`
/// in a value replaced (properties_file.h reads them).
using Log4cppProperties = std::map<std::string, std::string>;

/// Throws `log4cpp::ConfigureFailure` with log4cpp's own text where log4cpp
/// would fail on `properties`, in its order: an appender key of no appender,
/// an appender type, console target, layout, pattern or threshold it does
/// not know, no `rootCategory`, a priority name it does not know, a NOTSET
/// root, an appender that a category names and the file does not define.
/// Refuses two things log4cpp takes, with texts of the module's: a file
/// appender without a `fileName` (log4cpp writes to "./foobar"), and one
/// whose file would keep its open waiting (a FIFO that no process reads),
/// while the configuration holds the process-wide lock. Returns the names of
/// the appenders log4cpp will make.
std::set<std::string> check_log4cpp_properties(const Log4cppProperties& properties);

/// An appender type as log4cpp compares it: the class name without its
/// package ("org.apache.log4j.FileAppender" is a FileAppender).
std::string type_of(const std::string& value);

}  // namespace quelto::backend
