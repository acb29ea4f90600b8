#include "fast_layouts.h"

#include <algorithm>
#include <log4cpp/Category.hh>
#include <log4cpp/LayoutAppender.hh>
#include <log4cpp/PatternLayout.hh>
#include <typeinfo>
#include <utility>

#include "pattern_layout.h"

namespace quelto::backend {
namespace {

// log4cpp keeps an appender's layout and a category's appender mutex to
// itself. An explicit instantiation may name a private or protected member
// (access is not checked there), which lets these templates define the two
// accessors.
log4cpp::Layout& (log4cpp::LayoutAppender::*layout_of())();
log4cpp::threading::Mutex log4cpp::Category::*appender_mutex();
template <log4cpp::Layout& (log4cpp::LayoutAppender::*Get)()>
struct LayoutAccess {
  friend log4cpp::Layout& (log4cpp::LayoutAppender::*layout_of())() { return Get; }
};
template struct LayoutAccess<&log4cpp::LayoutAppender::_getLayout>;
template <log4cpp::threading::Mutex log4cpp::Category::*Member>
struct MutexAccess {
  friend log4cpp::threading::Mutex log4cpp::Category::*appender_mutex() { return Member; }
};
template struct MutexAccess<&log4cpp::Category::_appenderSetMutex>;

int depth(const log4cpp::Category& category) {
  int levels = 0;
  for (const log4cpp::Category* c = category.getParent(); c != nullptr; c = c->getParent()) {
    ++levels;
  }
  return levels;
}

}  // namespace

struct FastLayouts::Exchange {
  log4cpp::LayoutAppender* appender;
  std::unique_ptr<FastPatternLayout> layout;
};

struct FastLayouts::Held {
  int depth;
  log4cpp::threading::Mutex* mutex;
};

FastLayouts::FastLayouts(const log4cpp::AppenderSet& appenders) {
  for (log4cpp::Appender* appender : appenders) {
    auto* with_layout = dynamic_cast<log4cpp::LayoutAppender*>(appender);
    if (with_layout == nullptr) continue;
    const log4cpp::Layout& layout = (with_layout->*layout_of())();
    if (typeid(layout) != typeid(log4cpp::PatternLayout)) continue;
    auto ours = std::make_unique<FastPatternLayout>();
    // A pattern log4cpp took, which ours takes too.
    ours->setConversionPattern(
        static_cast<const log4cpp::PatternLayout&>(layout).getConversionPattern());
    exchanges_.push_back(Exchange{with_layout, std::move(ours)});
  }
  if (exchanges_.empty()) return;
  const std::unique_ptr<std::vector<log4cpp::Category*>> categories(
      log4cpp::Category::getCurrentCategories());
  for (log4cpp::Category* category : *categories) {
    mutexes_.push_back(Held{depth(*category), &(category->*appender_mutex())});
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
