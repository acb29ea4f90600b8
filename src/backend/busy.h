// The categories that a record in flight holds, named for the error of an
// operation that gave up waiting on them.
//
// A record stands still for as long as its appender's write blocks, and it
// holds its category's own mutex in log4cpp meanwhile (the host's C++
// records too). An operation that must wait for it says which category and
// which appenders it waited on: the appenders as the module's last
// configuration attached them (the host's own, attached later, are not
// known), read from a note taken then, since a category whose mutex is held
// cannot be asked.
#pragma once

#include <string>

#include "deadline.h"

namespace log4cpp {
class Category;
}

namespace quelto::backend {

struct Attachments;

/// Notes what each category of `now` holds, for describe(). With the turn
/// held, after every change the module makes to the categories' appenders.
void note_attachments(const Attachments& now);

/// "category 'app' (appender 'f', file /var/log/app.log)", as noted; the root
/// is "the root category". With the turn held.
std::string describe(const log4cpp::Category& category);

/// The categories whose own mutex a thread holds now, described and joined
/// by "; "; "a category" when there is none (the record is on its way to
/// one). With the turn held.
std::string busy_categories();

/// Waits until `deadline` for each category's own mutex to be free, and lets
/// it go again: "" when every one was, else the description of the first
/// that was not. With the lock held alone, so that only the host's threads
/// can hold one.
std::string wait_for_categories(Deadline deadline);

}  // namespace quelto::backend
