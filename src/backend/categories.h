// The categories the module's functions look up and change.
#pragma once

namespace log4cpp {
class Category;
}

namespace quelto::backend {

/// The most dot-separated levels a category name may have, in `get_log` as
/// in a properties file. log4cpp creates the parents of a new category by
/// recursing once per level, so a deeper name would run the native stack
/// out; this one costs a few pages.
inline constexpr int kMaxCategoryLevels = 256;

/// The category of `name` (log4cpp makes it on first use), or the root for
/// null; never while a configuration changes the hierarchy. The name must
/// have fewer than kMaxCategoryLevels levels. Throws what allocating throws.
log4cpp::Category& find_category(const char* name);

/// Sets the category's own priority (NOTSET: none, it inherits), never at
/// the same time as a configuration or another change, and without waiting
/// for records in flight. Throws what log4cpp throws for a priority it
/// refuses, and GaveUp (operation.h) when a configuration kept it waiting
/// past the operations' deadline or the process exits.
void set_priority(log4cpp::Category& category, int priority);

}  // namespace quelto::backend
