// The harness's way out of a failed run. tarve's own fail() prints its message and
// ends the process; the fail() linked into the harness formats the same message into
// a RunFailure and throws it, so that one process can try input after input and the
// harness can look at what would have been printed.
#pragma once

struct RunFailure {
  char message[512];  // the formatted line, cut short if it were longer
  int length;         // what vsnprintf returned: the full length of the line
};
