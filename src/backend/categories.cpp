#include "categories.h"

#include <log4cpp/Category.hh>
#include <string>

#include "gate.h"
#include "lifecycle.h"
#include "operation.h"
#include "process_lock.h"

namespace quelto::backend {

log4cpp::Category& find_category(const char* name) {
  const SharedUse use;                // not while a configuration changes the hierarchy
  if (exiting()) return kept_root();  // log4cpp's hierarchy is being torn down
  return name ? log4cpp::Category::getInstance(std::string(name)) : log4cpp::Category::getRoot();
}

void set_priority(log4cpp::Category& category, int priority) {
  // Not at the same time as a configuration; a record in flight reads the
  // word as log4cpp writes it, without a mutex.
  const Setting turn("set_priority");
  category.setPriority(priority);
  priorities_changed();
}

}  // namespace quelto::backend
