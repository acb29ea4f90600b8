// log4cpp's priorities by name: the one place the module turns names into
// values and back.
#pragma once

#include <cstddef>
#include <log4cpp/Priority.hh>
#include <optional>

namespace quelto::backend {

/// The priorities log4cpp gives a name, most severe first: EMERG (FATAL) 0,
/// ALERT 100, ..., DEBUG 700, NOTSET 800.
inline constexpr int kNamedPriorities[] = {
    log4cpp::Priority::EMERG, log4cpp::Priority::ALERT, log4cpp::Priority::CRIT,
    log4cpp::Priority::ERROR, log4cpp::Priority::WARN,  log4cpp::Priority::NOTICE,
    log4cpp::Priority::INFO,  log4cpp::Priority::DEBUG, log4cpp::Priority::NOTSET,
};

/// log4cpp's other name for 0, which its configurator takes as FATAL's equal
/// and `getPriorityName` never gives.
inline constexpr char kEmergName[] = "EMERG";

/// The value of a priority name, as `get_priority_map` lists them (log4cpp's
/// own names of the values above) or kEmergName; none for any other text.
std::optional<int> priority_named(const char* name, std::size_t length) noexcept;

}  // namespace quelto::backend
