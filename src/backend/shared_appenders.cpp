#include "shared_appenders.h"

#include <pthread.h>

#include <algorithm>
#include <log4cpp/Category.hh>
#include <map>
#include <new>
#include <utility>
#include <vector>

#include "attachments.h"
#include "lasting.h"

namespace quelto::backend {
namespace {

// Shared appenders take these in turn, by the order in which they are found;
// a record reaching two takes both, in ascending order, so no two records
// wait on each other.
constexpr int kStripes = 64;
struct Stripe {
  pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;  // constant-initialised
};
Stripe stripes[kStripes];

// The categories that hold a shared appender, by address, each with the
// stripes of those appenders as bits. Written while the process-wide lock is
// held alone, read while it is held shared. Built in static room and never
// destroyed: a thread may still log while the process exits.
using Holders = std::vector<std::pair<const log4cpp::Category*, std::uint64_t>>;
Holders& holders() {
  return lasting<Holders, struct SharedHolders>();
}

std::uint64_t stripes_of(const Holders& table, const log4cpp::Category* category) {
  const auto found =
      std::lower_bound(table.begin(), table.end(), category,
                       [](const Holders::value_type& entry, const log4cpp::Category* key) {
                         return entry.first < key;
                       });
  return found != table.end() && found->first == category ? found->second : 0;
}

}  // namespace

SharedAppenderUse::SharedAppenderUse(log4cpp::Category& category) noexcept : held_(0) {
  const Holders& table = holders();
  if (table.empty()) return;
  // The way log4cpp passes a record on: up the parents while additive.
  for (log4cpp::Category* at = &category; at != nullptr;
       at = at->getAdditivity() ? at->getParent() : nullptr) {
    held_ |= stripes_of(table, at);
  }
  for (std::uint64_t bits = held_; bits != 0; bits &= bits - 1) {  // lowest first
    pthread_mutex_lock(&stripes[__builtin_ctzll(bits)].mutex);
  }
}

SharedAppenderUse::~SharedAppenderUse() {
  for (std::uint64_t bits = held_; bits != 0; bits &= bits - 1) {
    pthread_mutex_unlock(&stripes[__builtin_ctzll(bits)].mutex);
  }
}

void note_shared_appenders(const Attachments& now) {
  std::map<log4cpp::Appender*, int> holding;  // how many categories hold each
  for (const log4cpp::AppenderSet& held : now.appenders) {
    for (log4cpp::Appender* appender : held) ++holding[appender];
  }
  std::map<log4cpp::Appender*, int> stripe;
  for (const auto& [appender, count] : holding) {
    if (count > 1) stripe.emplace(appender, static_cast<int>(stripe.size()) % kStripes);
  }
  Holders table;
  for (std::size_t i = 0; i < now.categories.size(); ++i) {
    std::uint64_t bits = 0;
    for (log4cpp::Appender* appender : now.appenders[i]) {
      const auto found = stripe.find(appender);
      if (found != stripe.end()) bits |= std::uint64_t{1} << found->second;
    }
    if (bits != 0) table.emplace_back(now.categories[i], bits);
  }
  std::sort(table.begin(), table.end());
  holders().swap(table);  // the old table is freed here, under the lock
}

void reset_stripes_in_child() noexcept {
  for (Stripe& stripe : stripes) new (&stripe) Stripe;
}

}  // namespace quelto::backend
