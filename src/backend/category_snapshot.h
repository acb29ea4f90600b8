// What a configuration may change of the categories, kept so that a failed
// one can be undone.
//
// log4cpp's configurator changes each category as it comes to it: priority,
// additivity, then its appenders removed and the new ones attached. A file
// that fails part of the way (an appender no one defined, a priority name
// log4cpp does not know) leaves the categories before that point changed and
// the root, perhaps, with no appender at all. The snapshot puts them back.
// It keeps only the categories the file names: a process may have hundreds
// of thousands, and the snapshot is taken while every log call waits.
#pragma once

#include <log4cpp/Appender.hh>
#include <map>
#include <set>
#include <string>

namespace log4cpp {
class Category;
}

namespace quelto::backend {

/// The appenders, priority and additivity of the root and of the named
/// categories (those a properties file names: the only ones its
/// configuration changes), and every appender attached to any category, at
/// the time it is made. Take it and restore it while holding the lock alone.
class CategorySnapshot {
 public:
  /// What is kept of one category.
  struct State {
    log4cpp::AppenderSet appenders;
    log4cpp::AppenderSet owned;  // those of `appenders` the category owns
    int priority;
    bool additive;
  };

  explicit CategorySnapshot(const std::set<std::string>& names);

  /// Puts the categories back as they were. A named category made since gets
  /// log4cpp's defaults (no appender, no priority of its own, additive). An
  /// appender a category owned (the host's, attached by pointer) that
  /// log4cpp has freed since cannot come back.
  void restore() const;

  /// The appenders attached now to the root and the named categories.
  log4cpp::AppenderSet attached_to_named() const;

  /// The appenders attached to any category when the snapshot was made.
  const log4cpp::AppenderSet& attached() const { return attached_; }

 private:
  std::map<log4cpp::Category*, State> states_;
  std::set<std::string> new_names_;  // named categories that did not exist
  log4cpp::AppenderSet attached_;
};

}  // namespace quelto::backend
