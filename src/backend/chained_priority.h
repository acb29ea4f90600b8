// The priority log4cpp decides by, read as a log call's gate needs it.
#pragma once

namespace log4cpp {
class Category;
}

namespace quelto::backend {

/// What `category.getChainedPriority()` returns: the category's own priority,
/// else that of its nearest ancestor with one (the root always has one).
/// Reads each priority once, as the plain words log4cpp reads them, without
/// its two virtual calls per level: a filtered call four levels below the
/// priority costs little more than one that reads the category's own. Takes
/// no lock (process_lock.h).
int chained_priority(const log4cpp::Category& category) noexcept;

}  // namespace quelto::backend
