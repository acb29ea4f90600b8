// Stands in for the C library's syslog connection when preloaded: writes
// one line per call to the file named by SYSLOG_SPY, with the tag in effect,
// so that a test can see which tag each record would carry.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::string tag;  // what openlog set; the C library forgets it on closelog

void note(const std::string& line) {
  if (FILE* out = std::fopen(std::getenv("SYSLOG_SPY"), "a")) {
    std::fprintf(out, "%s\n", line.c_str());
    std::fclose(out);
  }
}

}  // namespace

extern "C" {

void openlog(const char* ident, int, int) {
  tag = ident != nullptr ? ident : "";
  note("open " + tag);
}

void closelog() {
  tag.clear();
  note("close");
}

namespace {
void record(const char* format, va_list args) {
  char text[512];
  std::vsnprintf(text, sizeof text, format, args);
  note("record [" + (tag.empty() ? std::string("no tag") : tag) + "] " + text);
}
}  // namespace

void syslog(int, const char* format, ...) {
  va_list args;
  va_start(args, format);
  record(format, args);
  va_end(args);
}

// What syslog() compiles to in a fortified build, such as log4cpp's.
void __syslog_chk(int, int, const char* format, ...) {
  va_list args;
  va_start(args, format);
  record(format, args);
  va_end(args);
}
}
