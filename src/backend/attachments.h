// Which appenders the categories hold: one pass over log4cpp's categories,
// for the questions a configuration and a reopen ask of them.
#pragma once

#include <log4cpp/Appender.hh>
#include <vector>

namespace log4cpp {
class Category;
}

namespace quelto::backend {

/// Every category, and the appenders each holds, at the time it is read.
/// Read and used while no configuration changes them (the lock held).
struct Attachments {
  std::vector<log4cpp::Category*> categories;
  std::vector<log4cpp::AppenderSet> appenders;  // those of categories[i]

  /// Every appender attached to any category.
  log4cpp::AppenderSet all() const;
};

/// The categories as they are now. Throws what allocating throws.
Attachments current_attachments();

}  // namespace quelto::backend
