#include "categories.h"

#include <log4cpp/Category.hh>
#include <string>

#include "gate.h"
#include "process_lock.h"

namespace quelto::backend {

log4cpp::Category& find_category(const char* name) {
  const SharedUse use;  // not while a configuration changes the hierarchy
  return name ? log4cpp::Category::getInstance(std::string(name)) : log4cpp::Category::getRoot();
}

void set_priority(log4cpp::Category& category, int priority) {
  const ExclusiveUse alone;  // configurations and changes never interleave their writes
  category.setPriority(priority);
  priorities_changed();
}

}  // namespace quelto::backend
