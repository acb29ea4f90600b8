#include "configuration.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <log4cpp/Appender.hh>
#include <log4cpp/Category.hh>
#include <log4cpp/Configurator.hh>
#include <log4cpp/PropertyConfigurator.hh>
#include <log4cpp/SyslogAppender.hh>
#include <map>
#include <optional>
#include <set>
#include <string>

#include "../lua/messages.h"
#include "async_queue.h"
#include "attachments.h"
#include "busy.h"
#include "category_snapshot.h"
#include "fast_layouts.h"
#include "gate.h"
#include "lasting.h"
#include "lifecycle.h"
#include "log4cpp_internals.h"
#include "operation.h"
#include "properties_file.h"
#include "shared_appenders.h"
#include "syslog_hosts.h"
#include "texts.h"

namespace quelto::backend {
namespace {

using log4cpp::AppenderSet;

// Every appender that a configuration run by the module created and that the
// module has not released yet. Guarded by the exclusive lock. Built in static
// room, so that it takes no heap block before it names an appender, and never
// destroyed, like the appenders it names: a thread may still configure while
// the process exits.
AppenderSet& created_appenders() {
  return lasting<AppenderSet, struct CreatedAppenders>();
}

// Frees an appender that no category holds. log4cpp's registry is keyed by
// name and an appender's destructor erases its name, also when a newer
// appender of that name (the one that replaced it) is registered: that one
// is put back, so that `Appender::getAppender` and `Appender::reopenAll`
// still find it.
void release(log4cpp::Appender& appender) {
  log4cpp::Appender* registered = log4cpp::Appender::getAppender(appender.getName());
  delete &appender;  // closes its file, socket or syslog connection
  if (registered != nullptr && registered != &appender) register_appender(registered);
}

// What log4cpp's registry names by each of the names a file defines an
// appender by. Read before a run, it tells the appenders that run made from
// those it found: log4cpp hands the module no list of what it made, and an
// appender the file defines but no category holds is found by name alone.
using Registered = std::map<std::string, log4cpp::Appender*>;

Registered registered(const std::set<std::string>& names) {
  Registered appenders;
  for (const std::string& name : names) {
    appenders.emplace(name, log4cpp::Appender::getAppender(name));
  }
  return appenders;
}

// Whether an appender writes through the C library's one syslog connection.
bool is_local_syslog(const log4cpp::Appender& appender) {
  return dynamic_cast<const log4cpp::SyslogAppender*>(&appender) != nullptr;
}

// Records what the configuration just run made, undoes a failed one, and
// releases what is attached to no category now: what an earlier run made and
// a later one replaced, and what this run made and attached to nothing.
// `now`: what the categories hold after a successful run; none after a failed
// one. Runs while the exclusive lock is held.
void settle(const CategorySnapshot& before, const Registered& registered_before,
            const Attachments* now) {
  const bool failed = now == nullptr;
  AppenderSet& created = created_appenders();
  for (const auto& [name, earlier] : registered_before) {
    // Named anew: made by this run (a failed run may not have come to it).
    log4cpp::Appender* made = log4cpp::Appender::getAppender(name);
    if (made != nullptr && made != earlier) created.insert(made);
  }
  // Only the named categories can have changed, so only they can hold what
  // a failed run attached; undone, every category holds what it held before.
  AppenderSet attached;
  if (failed) {
    attached = before.attached_to_named();
  } else {
    note_shared_appenders(*now);
    note_attachments(*now);
    attached = now->all();
  }
  for (log4cpp::Appender* appender : attached) {
    // New objects: log4cpp frees none of its appenders before the
    // configurator has made all its new ones, so no address is reused.
    if (before.attached().count(appender) == 0) created.insert(appender);
  }
  if (failed) {
    before.restore();
    attached = before.attached();
  }
  bool closed_syslog = false;
  for (auto it = created.begin(); it != created.end();) {
    if (attached.count(*it) != 0) {
      ++it;
      continue;
    }
    // Forgotten before it is freed: putting a name back into log4cpp's
    // registry can throw, and must not leave a freed appender recorded.
    log4cpp::Appender& appender = **it;
    it = created.erase(it);
    closed_syslog |= is_local_syslog(appender);
    release(appender);
  }
  for (log4cpp::Appender* appender : created) {
    // Closing a local syslog appender closes the process's one syslog
    // connection and forgets its tag; the appenders still in use open it again.
    if (closed_syslog && is_local_syslog(*appender)) appender->reopen();
    // A failed run's appender of the name of one back in use took the name
    // in the registry (and, if freed, took it away): the one in use gets it.
    log4cpp::Appender* registered = log4cpp::Appender::getAppender(appender->getName());
    if (registered == nullptr || attached.count(registered) == 0) register_appender(appender);
  }
}

// Keeps a reader of the FIFO at `path` open for its lifetime, so that
// opening the FIFO for writing cannot wait for one.
class FifoReader {
 public:
  FifoReader() = default;
  ~FifoReader() {
    if (fd_ >= 0) close(fd_);
  }
  FifoReader(const FifoReader&) = delete;
  FifoReader& operator=(const FifoReader&) = delete;

  /// False when `path` is a FIFO that no one reads. A FIFO with a reader
  /// gets this one too, should that one leave before the file is opened.
  bool open_for(const std::string& path) {
    struct stat status;
    if (stat(path.c_str(), &status) != 0 || !S_ISFIFO(status.st_mode)) return true;
    const int probe = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (probe < 0) return errno != ENXIO;  // any other error, log4cpp's open meets at once
    close(probe);
    fd_ = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    return true;
  }

 private:
  int fd_ = -1;
};

}  // namespace

void configure(PropertiesFile properties, const std::function<void()>& on_success) {
  // Read, checked, resolved and copied before the lock: nothing here waits
  // on a file or a name lookup while other threads wait on the lock.
  const Deadline deadline = Deadline::operation();
  resolve_syslog_hosts(properties, deadline);
  const MemoryFile file(properties.text);
  try {
    const Operation alone("configure", deadline);
    prepare_queue(properties.settings.async);
    const CategorySnapshot before(properties.categories);
    const Registered registered_before = registered(properties.appenders);
    std::optional<FastLayouts> layouts;
    Attachments now;
    try {
      log4cpp::PropertyConfigurator::configure(file.path());
      now = current_attachments();
      // Made before anything is settled: a failure to make them fails the run.
      if (properties.settings.fast_layout || !properties.settings.json_appenders.empty()) {
        layouts.emplace(now, before.attached(), properties.settings);
      }
    } catch (...) {
      after_first_configuration();
      settle(before, registered_before, nullptr);
      priorities_changed();  // put back, perhaps after a change
      throw;
    }
    after_first_configuration();
    settle(before, registered_before, &now);
    priorities_changed();
    if (layouts) layouts->install(deadline);
    use_prepared_queue();
    if (on_success) on_success();
  } catch (const GaveUp& e) {
    throw log4cpp::ConfigureFailure(e.what());
  }
}

void configure_from_file(const std::string& path) {
  configure(read_properties(path));
}

bool reopen_appenders(std::string& problems) {
  const auto add = [&problems](const std::string& problem) {
    problems += (problems.empty() ? "" : "; ") + problem;
  };
  try {
    const Operation alone("reopen", Deadline::operation());
    bool reopened = true;
    for (log4cpp::Appender* appender : current_attachments().all()) {
      const std::string* file = file_name(*appender);
      FifoReader reader;
      if (file != nullptr && !reader.open_for(*file)) {
        add(filled(messages::kFifoWithoutReader, appender->getName().c_str(), file->c_str()));
        reopened = false;
      } else if (!appender->reopen()) {
        add(filled(messages::kNotReopened, appender->getName().c_str()));
        reopened = false;
      }
    }
    return reopened;
  } catch (const GaveUp& e) {
    add(e.what());
    return false;
  }
}

}  // namespace quelto::backend
