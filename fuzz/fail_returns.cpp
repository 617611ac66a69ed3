// fail() for the fuzz harness and its replay: the message is formatted as tarve
// would print it, so that a format that does not match its arguments still shows up
// under the sanitizers, and is thrown to the harness instead of ending the process.

#include <cstdarg>
#include <cstdio>

#include "cli/fail.h"
#include "fail_returns.h"

void fail(const char* format, ...) {
  RunFailure failure{};
  std::va_list arguments;
  va_start(arguments, format);
  failure.length = std::vsnprintf(failure.message, sizeof failure.message, format, arguments);
  va_end(arguments);
  throw failure;
}
