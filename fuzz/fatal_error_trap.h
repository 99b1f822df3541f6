// A FatalError that returns control to the harness instead of ending the
// process: linked in place of the real one, it throws FatalExit.
#pragma once

#include <string>

struct FatalExit {
  std::string message;  // as passed, without the frame of the fatal line
  int exitCode;
};
