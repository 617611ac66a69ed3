#include "cli/fail.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

void fail(const char* format, ...) {
  std::va_list arguments;
  va_start(arguments, format);
  std::vprintf(format, arguments);
  va_end(arguments);
  std::exit(kExitFailure);
}
