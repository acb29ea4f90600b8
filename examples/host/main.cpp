// quelto_host: runs a Lua script in a program that logs through log4cpp.
// The script's loggers and the host's own categories share one appender.
//
//   quelto_host [--cpath PATTERN] SCRIPT [ARG...]
//
// Without --cpath the module linked into the host is used; with it, the
// module is loaded from PATTERN (a package.cpath, e.g. "/opt/lua/?.so").
// SIGHUP reopens the log files (after logrotate has renamed them).
// Exits 0 when the script ran to its end, 1 when it raised an error, 2 on a
// usage error.
#include <cstring>
#include <iostream>
#include <log4cpp/Category.hh>
#include <string>

#include "host_logging.h"
#include "lua_host.h"
#include "reopen_on_hangup.h"

namespace {

int usage() {
  std::cerr << "usage: quelto_host [--cpath PATTERN] SCRIPT [ARG...]\n";
  return 2;
}

// Sets the host's logging up and runs the script; returns the exit status.
int run(int argc, char** argv) {
  host::ModuleSource source;
  int next = 1;
  if (next < argc && std::strcmp(argv[next], "--cpath") == 0) {
    if (next + 1 >= argc) return usage();
    source.cpath = argv[next + 1];
    next += 2;
  }
  if (next >= argc) return usage();
  const char* script = argv[next++];

  host::setup_logging(std::cout);
  log4cpp::Category& log = log4cpp::Category::getInstance("host");
  log.info(std::string("running ") + script);

  int status = 0;
  lua_State* L = host::new_state(source);
  if (L == nullptr) {
    log.error("cannot create a Lua state");
    status = 1;
  } else {
    const char* error = nullptr;
    if (host::run_script(L, script, argc - next, argv + next, &error)) {
      log.info(std::string("finished ") + script);
    } else {
      log.error(std::string("script failed: ") + error);
      status = 1;
    }
    lua_close(L);
  }
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  int status = 0;
  {
    const host::ReopenOnHangup reopener;  // first: before any other thread starts
    status = run(argc, argv);
  }  // no reopen from here on
  host::shutdown_logging();
  return status;
}
