#include "category_snapshot.h"

#include <log4cpp/Category.hh>
#include <memory>
#include <vector>

namespace quelto::backend {
namespace {

using Categories = std::unique_ptr<std::vector<log4cpp::Category*>>;

Categories current_categories() {
  return Categories(log4cpp::Category::getCurrentCategories());
}

}  // namespace

log4cpp::AppenderSet attached_appenders() {
  log4cpp::AppenderSet attached;
  const Categories categories = current_categories();
  for (log4cpp::Category* category : *categories) {
    const log4cpp::AppenderSet appenders = category->getAllAppenders();
    attached.insert(appenders.begin(), appenders.end());
  }
  return attached;
}

CategorySnapshot::CategorySnapshot() {
  const Categories categories = current_categories();
  for (log4cpp::Category* category : *categories) {
    State& state = states_[category];
    state.appenders = category->getAllAppenders();
    for (log4cpp::Appender* appender : state.appenders) {
      if (category->ownsAppender(appender)) state.owned.insert(appender);
    }
    state.priority = category->getPriority();
    state.additive = category->getAdditivity();
    attached_.insert(state.appenders.begin(), state.appenders.end());
  }
}

void CategorySnapshot::restore() const {
  // What log4cpp gives a category it makes (the root, which the failed run
  // may have made first, gets INFO: it must have a priority of its own).
  static const State kDefaults{{}, {}, log4cpp::Priority::NOTSET, true};
  static const State kRootDefaults{{}, {}, log4cpp::Priority::INFO, true};
  const Categories categories = current_categories();
  for (log4cpp::Category* category : *categories) {
    const auto found = states_.find(category);
    const State& state = found != states_.end()             ? found->second
                         : category->getParent() == nullptr ? kRootDefaults
                                                            : kDefaults;
    if (category->getPriority() != state.priority) category->setPriority(state.priority);
    category->setAdditivity(state.additive);
    // A category whose appenders the configurator did not reach is left
    // alone: removing them would free those it owns.
    if (category->getAllAppenders() == state.appenders) continue;
    // Those it attached are the configurator's, attached by reference, so
    // removing them frees nothing.
    category->removeAllAppenders();
    for (log4cpp::Appender* appender : state.appenders) {
      // An owned one is gone: the configurator's removal freed it.
      if (state.owned.count(appender) == 0) category->addAppender(*appender);
    }
  }
}

}  // namespace quelto::backend
