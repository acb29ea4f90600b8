#include "busy.h"

#include <algorithm>
#include <log4cpp/Category.hh>
#include <memory>
#include <utility>
#include <vector>

#include "attachments.h"
#include "lasting.h"
#include "log4cpp_internals.h"

namespace quelto::backend {
namespace {

// What each category held at the last note, by address. Built in static room
// and never destroyed, like the categories it names.
using Notes = std::vector<std::pair<const log4cpp::Category*, std::string>>;
Notes& notes() {
  return lasting<Notes, struct NotesOfCategories>();
}

std::string quoted(const std::string& name) {
  return "'" + name + "'";
}

constexpr std::chrono::milliseconds kStandingStill{50};

// Every category, as log4cpp lists them.
std::vector<log4cpp::Category*> every_category() {
  return *std::unique_ptr<std::vector<log4cpp::Category*>>(
      log4cpp::Category::getCurrentCategories());
}

}  // namespace

void note_attachments(const Attachments& now) {
  Notes table;
  for (std::size_t i = 0; i < now.categories.size(); ++i) {
    std::string held;
    for (const log4cpp::Appender* appender : now.appenders[i]) {
      held += held.empty() ? " (" : ", ";
      held += "appender " + quoted(appender->getName());
      if (const std::string* file = file_name(*appender)) held += ", file " + *file;
    }
    if (!held.empty()) table.emplace_back(now.categories[i], held + ")");
  }
  std::sort(table.begin(), table.end());
  notes().swap(table);
}

std::string describe(const log4cpp::Category& category) {
  const std::string& name = category.getName();  // const: readable while its mutex is held
  std::string text = name.empty() ? "the root category" : "category " + quoted(name);
  const Notes& table = notes();
  const auto found =
      std::lower_bound(table.begin(), table.end(), &category,
                       [](const Notes::value_type& entry, const log4cpp::Category* key) {
                         return entry.first < key;
                       });
  if (found != table.end() && found->first == &category) text += found->second;
  return text;
}

std::string busy_categories() {
  // A category that other threads log into is held now and then; one whose
  // record stands still is held throughout a wait of kStandingStill.
  std::string busy;
  for (const log4cpp::Category* category : every_category()) {
    if (!held_throughout(category_mutex(*category), kStandingStill)) continue;
    busy += (busy.empty() ? "" : "; ") + describe(*category);
  }
  return busy.empty() ? "a category" : busy;
}

std::string wait_for_categories(Deadline deadline) {
  const timespec at = deadline.realtime();
  for (const log4cpp::Category* category : every_category()) {
    pthread_mutex_t& mutex = category_mutex(*category);
    if (pthread_mutex_timedlock(&mutex, &at) != 0) return describe(*category);
    pthread_mutex_unlock(&mutex);
  }
  return "";
}

}  // namespace quelto::backend
