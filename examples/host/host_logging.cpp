#include "host_logging.h"

#include <log4cpp/Category.hh>
#include <log4cpp/OstreamAppender.hh>
#include <log4cpp/PatternLayout.hh>
#include <log4cpp/Priority.hh>

namespace host {

void setup_logging(std::ostream& out) {
  auto* layout = new log4cpp::PatternLayout();
  layout->setConversionPattern("%p %c: %m%n");
  auto* appender = new log4cpp::OstreamAppender("host", &out);
  appender->setLayout(layout);  // the appender owns the layout

  log4cpp::Category& root = log4cpp::Category::getRoot();
  root.removeAllAppenders();
  root.setPriority(log4cpp::Priority::INFO);
  root.addAppender(appender);  // the category owns the appender
}

void shutdown_logging() {
  log4cpp::Category::shutdown();
}

}  // namespace host
