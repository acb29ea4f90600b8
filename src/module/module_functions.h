// The functions of the module table.
#pragma once

#include "../lua/compat.h"

namespace quelto {

/// configure(path): sets log4cpp up from a properties file.
int configure(lua_State* L);

/// configure_text(text): the same from the text of a properties file.
int configure_text(lua_State* L);

/// reopen(): reopens every appender attached to a category; true when all
/// did, else false and what went wrong.
int reopen(lua_State* L);

/// flush(): true once every record queued before the call is written (at
/// once in the synchronous mode); false when that took longer than the
/// operations' bound.
int flush(lua_State* L);

/// stats(): { queued = n, dropped = n }: records waiting in the queue now,
/// and records dropped since the module was loaded.
int stats(lua_State* L);

/// get_log([name [, options]]): a new logger for the root category (nil) or a
/// named one of fewer than backend::kMaxCategoryLevels levels, with the options of the table
/// (logger_options.h) and this state's defaults for those it leaves out.
/// Its upvalue is the state's defaults.
int get_log(lua_State* L);

/// get_priority_map(): {EMERG = 0, ..., NOTSET = 800}, log4cpp's names.
int get_priority_map(lua_State* L);

}  // namespace quelto
