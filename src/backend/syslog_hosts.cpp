#include "syslog_hosts.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <pthread.h>

#include <algorithm>
#include <cstdint>
#include <log4cpp/Configurator.hh>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "../lua/messages.h"
#include "lasting.h"
#include "properties_check.h"
#include "texts.h"

namespace quelto::backend {
namespace {

// One lookup in flight, which owns what getaddrinfo_a reads.
struct Lookup {
  std::string appender;
  std::string host;
  addrinfo hints{};
  gaicb request{};
  const PropertyLine* line = nullptr;  // the syslogHost line, or null for the default

  ~Lookup() {
    if (request.ar_result != nullptr) freeaddrinfo(request.ar_result);
  }
};

// Lookups that gave up while the resolver still worked on them: getaddrinfo_a
// writes into them when it answers, so they are freed only then. Reachable
// from static room, never destroyed.
pthread_mutex_t abandoned_mutex = PTHREAD_MUTEX_INITIALIZER;
std::vector<Lookup*>& abandoned() {
  return lasting<std::vector<Lookup*>, struct Abandoned>();
}

// Frees those the resolver has answered since, and keeps `still` for later.
void abandon(std::vector<std::unique_ptr<Lookup>>& still) {
  const MutexUse use(abandoned_mutex);
  std::vector<Lookup*>& kept = abandoned();
  kept.erase(std::remove_if(kept.begin(), kept.end(),
                            [](Lookup* lookup) {
                              if (gai_error(&lookup->request) == EAI_INPROGRESS) return false;
                              delete lookup;
                              return true;
                            }),
             kept.end());
  for (std::unique_ptr<Lookup>& lookup : still) {
    if (lookup && gai_cancel(&lookup->request) != EAI_CANCELED &&
        gai_error(&lookup->request) == EAI_INPROGRESS) {
      kept.push_back(lookup.release());
    }
  }
}

// What gethostbyname takes as an address without looking it up: digits and
// dots, as inet_aton reads them.
bool is_address(const std::string& host) {
  in_addr address;
  return !host.empty() && host.find_first_not_of("0123456789.") == std::string::npos &&
         inet_aton(host.c_str(), &address) != 0;
}

// Waits for every lookup until `deadline`; the index of the first not
// answered, or lookups.size().
std::size_t wait_for(std::vector<std::unique_ptr<Lookup>>& lookups, Deadline deadline) {
  std::vector<const gaicb*> list;
  for (const auto& lookup : lookups) list.push_back(&lookup->request);
  for (std::size_t i = 0; i < lookups.size();) {
    if (gai_error(&lookups[i]->request) != EAI_INPROGRESS) {
      ++i;
      continue;
    }
    if (deadline.passed()) return i;
    const timespec left = deadline.left();
    gai_suspend(list.data() + i, 1, &left);
  }
  return lookups.size();
}

}  // namespace

void resolve_syslog_hosts(PropertiesFile& file, Deadline deadline) {
  const std::vector<PropertyLine> lines = property_lines(file.text);
  std::map<std::string, const PropertyLine*> by_key;
  for (const PropertyLine& line : lines) by_key.emplace(line.key, &line);
  std::vector<std::unique_ptr<Lookup>> lookups;
  constexpr std::string_view kAppender = "appender.";
  for (const PropertyLine& line : lines) {
    const std::string_view key = line.key;
    if (key.substr(0, kAppender.size()) != kAppender ||
        key.find('.', kAppender.size()) != std::string_view::npos ||
        type_of(line.value) != "SyslogAppender") {
      continue;
    }
    const auto host = by_key.find(line.key + ".syslogHost");
    auto lookup = std::make_unique<Lookup>();
    lookup->appender = key.substr(kAppender.size());
    lookup->line = host != by_key.end() ? host->second : nullptr;
    lookup->host =
        lookup->line != nullptr ? lookup->line->value : "localhost";  // log4cpp's default
    if (is_address(lookup->host)) continue;
    lookup->hints.ai_family = AF_INET;  // what the appender sends to
    lookup->hints.ai_socktype = SOCK_DGRAM;
    lookup->request.ar_name = lookup->host.c_str();
    lookup->request.ar_request = &lookup->hints;
    lookups.push_back(std::move(lookup));
  }
  if (lookups.empty()) return;
  std::vector<gaicb*> list;
  for (const auto& lookup : lookups) list.push_back(&lookup->request);
  if (getaddrinfo_a(GAI_NOWAIT, list.data(), static_cast<int>(list.size()), nullptr) != 0) {
    throw log4cpp::ConfigureFailure(filled(messages::kSyslogHostUnresolved,
                                           lookups.front()->appender.c_str(),
                                           lookups.front()->host.c_str()));
  }
  const std::size_t unanswered = wait_for(lookups, deadline);
  if (unanswered < lookups.size()) {
    const Lookup& late = *lookups[unanswered];
    const std::string message = filled(messages::kSyslogHostTimedOut, late.appender.c_str(),
                                       late.host.c_str(), kOperationBoundSeconds);
    abandon(lookups);
    throw log4cpp::ConfigureFailure(message);
  }
  // From the last line to the first, so that each replacement leaves the
  // places of those before it as they were.
  std::sort(lookups.begin(), lookups.end(), [](const auto& a, const auto& b) {
    return (a->line ? a->line->start : SIZE_MAX) > (b->line ? b->line->start : SIZE_MAX);
  });
  std::string text = file.text;
  for (const auto& lookup : lookups) {
    const addrinfo* found = lookup->request.ar_result;
    char address[INET_ADDRSTRLEN];
    if (gai_error(&lookup->request) != 0 || found == nullptr ||
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr, address,
                  sizeof address) == nullptr) {
      throw log4cpp::ConfigureFailure(
          filled(messages::kSyslogHostUnresolved, lookup->appender.c_str(), lookup->host.c_str()));
    }
    const std::string property = "appender." + lookup->appender + ".syslogHost=" + address;
    if (lookup->line != nullptr) {
      text.replace(lookup->line->start, lookup->line->end - lookup->line->start, property);
    } else {
      text += "\n" + property + "\n";
    }
  }
  file.text = std::move(text);
}

}  // namespace quelto::backend
