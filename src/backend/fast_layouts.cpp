#include "fast_layouts.h"

#include <algorithm>
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
};

struct FastLayouts::Held {
  int depth;
  log4cpp::threading::Mutex* mutex;
};

FastLayouts::FastLayouts(const Attachments& now, const log4cpp::AppenderSet& before,
                         const ModuleSettings& settings) {
  for (log4cpp::Appender* appender : now.all()) {
    if (before.count(appender) != 0) continue;  // not made by this configuration
    auto* with_layout = dynamic_cast<log4cpp::LayoutAppender*>(appender);
    if (with_layout == nullptr) continue;
    if (settings.json_appenders.count(appender->getName()) != 0) {
      exchanges_.push_back(Exchange{with_layout, std::make_unique<JsonLayout>()});
      continue;
    }
    if (!settings.fast_layout) continue;
    const std::optional<std::string> pattern = equivalent_pattern(layout_of(*with_layout));
    if (!pattern) continue;
    auto ours = std::make_unique<FastPatternLayout>();
    ours->setConversionPattern(*pattern);  // a pattern log4cpp took, which ours takes too
    exchanges_.push_back(Exchange{with_layout, std::move(ours)});
  }
  if (exchanges_.empty()) return;
  for (log4cpp::Category* category : now.categories) {
    mutexes_.push_back(Held{depth(*category), &appender_mutex(*category)});
  }
  std::sort(mutexes_.begin(), mutexes_.end(),
            [](const Held& a, const Held& b) { return a.depth > b.depth; });
}

FastLayouts::~FastLayouts() = default;
FastLayouts::FastLayouts(FastLayouts&&) noexcept = default;

void FastLayouts::install() noexcept {
  for (const Held& held : mutexes_) held.mutex->lock();
  for (Exchange& exchange : exchanges_) exchange.appender->setLayout(exchange.layout.release());
  for (auto it = mutexes_.rbegin(); it != mutexes_.rend(); ++it) it->mutex->unlock();
}

}  // namespace quelto::backend
