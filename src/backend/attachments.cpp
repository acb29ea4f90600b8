#include "attachments.h"

#include <log4cpp/Category.hh>
#include <memory>

namespace quelto::backend {

log4cpp::AppenderSet Attachments::all() const {
  log4cpp::AppenderSet every;
  for (const log4cpp::AppenderSet& held : appenders) every.insert(held.begin(), held.end());
  return every;
}

Attachments current_attachments() {
  Attachments now;
  now.categories =
      *std::unique_ptr<std::vector<log4cpp::Category*>>(log4cpp::Category::getCurrentCategories());
  now.appenders.reserve(now.categories.size());
  for (const log4cpp::Category* category : now.categories) {
    now.appenders.push_back(category->getAllAppenders());
  }
  return now;
}

}  // namespace quelto::backend
