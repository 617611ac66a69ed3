// How a run ends. Failures are not passed back to callers: the function that
// detects one prints a single line naming the file concerned to standard output
// and ends the process at once.
#pragma once

#if defined(__GNUC__) || defined(__clang__)
#define TARVE_PRINTF_FORMAT(format_index, first_argument) \
  __attribute__((format(printf, format_index, first_argument)))
#else
#define TARVE_PRINTF_FORMAT(format_index, first_argument)
#endif

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 99;
inline constexpr int kExitUsage = -1;  // shown as 255 where statuses have eight bits

// Prints the message (its format ends in a line feed) to standard output and ends
// the process with status 99 through the normal exit, which flushes standard output.
[[noreturn]] void fail(const char* format, ...) TARVE_PRINTF_FORMAT(1, 2);
