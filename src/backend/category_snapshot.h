// What a configuration may change of the categories, kept so that a failed
// one can be undone.
//
// log4cpp's configurator changes each category as it comes to it: priority,
// additivity, then its appenders removed and the new ones attached. A file
// that fails part of the way (an appender no one defined, a priority name
// log4cpp does not know) leaves the categories before that point changed and
// the root, perhaps, with no appender at all. The snapshot puts them back.
#pragma once

#include <log4cpp/Appender.hh>
#include <map>

namespace log4cpp {
class Category;
}

namespace quelto::backend {

/// Every category's appenders, priority and additivity at the time it is
/// made. Take it and restore it while holding the lock alone.
class CategorySnapshot {
 public:
  CategorySnapshot();

  /// Puts every category back as it was. Categories made since get log4cpp's
  /// defaults (no appender, no priority of their own, additive). An appender
  /// a category owned (the host's, attached by pointer) that log4cpp has
  /// freed since cannot come back.
  void restore() const;

  /// The appenders attached to any category when the snapshot was made.
  const log4cpp::AppenderSet& attached() const { return attached_; }

 private:
  struct State {
    log4cpp::AppenderSet appenders;
    log4cpp::AppenderSet owned;  // those of `appenders` the category owns
    int priority;
    bool additive;
  };
  std::map<log4cpp::Category*, State> states_;
  log4cpp::AppenderSet attached_;
};

/// The appenders attached to any category now.
log4cpp::AppenderSet attached_appenders();

}  // namespace quelto::backend
