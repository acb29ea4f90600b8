#include "category_snapshot.h"

#include <log4cpp/Category.hh>

#include "attachments.h"

namespace quelto::backend {
namespace {

CategorySnapshot::State state_of(log4cpp::Category& category) {
  CategorySnapshot::State state{
      category.getAllAppenders(), {}, category.getPriority(), category.getAdditivity()};
  for (log4cpp::Appender* appender : state.appenders) {
    if (category.ownsAppender(appender)) state.owned.insert(appender);
  }
  return state;
}

// Puts one category back to `state`.
void put_back(log4cpp::Category& category, const CategorySnapshot::State& state) {
  if (category.getPriority() != state.priority) category.setPriority(state.priority);
  category.setAdditivity(state.additive);
  // A category whose appenders the configurator did not reach is left
  // alone: removing them would free those it owns.
  if (category.getAllAppenders() == state.appenders) return;
  // Those it attached are the configurator's, attached by reference, so
  // removing them frees nothing.
  category.removeAllAppenders();
  for (log4cpp::Appender* appender : state.appenders) {
    // An owned one is gone: the configurator's removal freed it.
    if (state.owned.count(appender) == 0) category.addAppender(*appender);
  }
}

}  // namespace

CategorySnapshot::CategorySnapshot(const std::set<std::string>& names)
    : attached_(current_attachments().all()) {
  log4cpp::Category& root = log4cpp::Category::getRoot();
  states_.emplace(&root, state_of(root));
  for (const std::string& name : names) {
    log4cpp::Category* category = log4cpp::Category::exists(name);
    if (category == nullptr) {
      new_names_.insert(name);
    } else if (states_.count(category) == 0) {
      states_.emplace(category, state_of(*category));
    }
  }
}

void CategorySnapshot::restore() const {
  // What log4cpp gives a category it makes. Not a static: a thread may still
  // configure while the process exits, after the destructors of statics made
  // late have run.
  const State kDefaults{{}, {}, log4cpp::Priority::NOTSET, true};
  for (const auto& [category, state] : states_) put_back(*category, state);
  for (const std::string& name : new_names_) {
    if (log4cpp::Category* category = log4cpp::Category::exists(name))
      put_back(*category, kDefaults);
  }
}

log4cpp::AppenderSet CategorySnapshot::attached_to_named() const {
  log4cpp::AppenderSet attached;
  const auto add = [&attached](const log4cpp::Category& category) {
    const log4cpp::AppenderSet appenders = category.getAllAppenders();
    attached.insert(appenders.begin(), appenders.end());
  };
  for (const auto& entry : states_) add(*entry.first);
  for (const std::string& name : new_names_) {
    if (const log4cpp::Category* category = log4cpp::Category::exists(name)) add(*category);
  }
  return attached;
}

}  // namespace quelto::backend
