#include "fast_layouts.h"

#include <algorithm>
#include <functional>
#include <log4cpp/BasicLayout.hh>
#include <log4cpp/Category.hh>
#include <log4cpp/LayoutAppender.hh>
#include <log4cpp/PatternLayout.hh>
#include <log4cpp/SimpleLayout.hh>
#include <typeinfo>
#include <utility>

#include "attachments.h"
#include "json_layout.h"
#include "log4cpp_internals.h"
#include "module_settings.h"
#include "pattern_layout.h"

namespace quelto::backend {
namespace {

int depth(const log4cpp::Category& category) {
  int levels = 0;
  for (const log4cpp::Category* c = category.getParent(); c != nullptr; c = c->getParent()) {
    ++levels;
  }
  return levels;
}

}  // namespace

std::optional<std::string> equivalent_pattern(const log4cpp::Layout& layout) {
  const std::type_info& type = typeid(layout);
  if (type == typeid(log4cpp::PatternLayout)) {
    return static_cast<const log4cpp::PatternLayout&>(layout).getConversionPattern();
  }
  if (type == typeid(log4cpp::BasicLayout)) return kBasicLayoutPattern;
  if (type == typeid(log4cpp::SimpleLayout)) return kSimpleLayoutPattern;
  return std::nullopt;
}

struct FastLayouts::Exchange {
  log4cpp::LayoutAppender* appender;
  std::unique_ptr<log4cpp::Layout> layout;
  // The mutexes of the categories that hold the appender, deepest first as
  // log4cpp takes them (a child's, then its parent's), among equals by
  // address: one order for any two, in every run.
  std::vector<pthread_mutex_t*> holders;
};

namespace {

// The layout that takes the place of `appender`'s, or none.
std::unique_ptr<log4cpp::Layout> replacement(log4cpp::LayoutAppender& appender,
                                             const ModuleSettings& settings) {
  if (settings.json_appenders.count(appender.getName()) != 0) {
    return std::make_unique<JsonLayout>();
  }
  if (!settings.fast_layout) return nullptr;
  const std::optional<std::string> pattern = equivalent_pattern(layout_of(appender));
  if (!pattern) return nullptr;
  auto ours = std::make_unique<FastPatternLayout>();
  ours->setConversionPattern(*pattern);  // a pattern log4cpp took, which ours takes too
  return ours;
}

}  // namespace

FastLayouts::FastLayouts(const Attachments& now, const log4cpp::AppenderSet& before,
                         const ModuleSettings& settings) {
  for (log4cpp::Appender* appender : now.all()) {
    if (before.count(appender) != 0) continue;  // not made by this configuration
    auto* with_layout = dynamic_cast<log4cpp::LayoutAppender*>(appender);
    if (with_layout == nullptr) continue;
    std::unique_ptr<log4cpp::Layout> layout = replacement(*with_layout, settings);
    if (!layout) continue;
    std::vector<std::pair<int, pthread_mutex_t*>> holders;
    for (std::size_t i = 0; i < now.categories.size(); ++i) {
      if (now.appenders[i].count(appender) == 0) continue;
      holders.emplace_back(-depth(*now.categories[i]), &category_mutex(*now.categories[i]));
    }
    std::sort(holders.begin(), holders.end(), [](const auto& a, const auto& b) {
      return a.first != b.first ? a.first < b.first : std::less<>()(a.second, b.second);
    });
    Exchange exchange{with_layout, std::move(layout), {}};
    for (const auto& holder : holders) exchange.holders.push_back(holder.second);
    exchanges_.push_back(std::move(exchange));
  }
}

FastLayouts::~FastLayouts() = default;
FastLayouts::FastLayouts(FastLayouts&&) noexcept = default;

void FastLayouts::install(Deadline deadline) noexcept {
  // A record reaches an appender only through a category that holds it, and
  // log4cpp calls those holding the category's mutex: with them all held, no
  // record is inside the layout as it is freed. A mutex that a record stuck
  // in its appender holds past the deadline leaves that appender log4cpp's
  // layout, which writes the same bytes.
  for (Exchange& exchange : exchanges_) {
    const timespec until = deadline.realtime();
    std::size_t held = 0;
    while (held < exchange.holders.size() &&
           pthread_mutex_timedlock(exchange.holders[held], &until) == 0) {
      ++held;
    }
    if (held == exchange.holders.size()) {
      exchange.appender->setLayout(exchange.layout.release());
    }
    while (held > 0) pthread_mutex_unlock(exchange.holders[--held]);
  }
}

}  // namespace quelto::backend
