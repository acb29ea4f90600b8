# The module's sources: the one list that the module, the static library,
# the fuzz target and hosts on Lua compiled as C++ are built from.
set(QUELTO_SOURCES
  backend/async_queue.cpp
  backend/attachments.cpp
  backend/busy.cpp
  backend/categories.cpp
  backend/category_snapshot.cpp
  backend/configuration.cpp
  backend/lifecycle.cpp
  backend/log4cpp_internals.cpp
  backend/module_settings.cpp
  backend/operation.cpp
  backend/priorities.cpp
  backend/process_lock.cpp
  backend/properties_file.cpp
  backend/record_ring.cpp
  backend/record.cpp
  backend/shared_appenders.cpp
  backend/syslog_hosts.cpp
  lua/compat.cpp
  lua/guard.cpp
  lua/native_stack.cpp
  lua/protected.cpp
  module/fast_methods.cpp
  module/category_methods.cpp
  module/logger.cpp
  module/logger_options.cpp
  module/module.cpp
  module/module_functions.cpp
  render/message.cpp
  render/message_buffer.cpp
  render/table_traverser.cpp)
list(TRANSFORM QUELTO_SOURCES PREPEND ${CMAKE_CURRENT_LIST_DIR}/)
