#include <signal.h>
#include <sys/wait.h>

#include "tests/support/debug_break.h"

// Our layer raises SIGTRAP, which nobody catches.
bool EndedByDebugBreak(int exitStatus) {
  return WIFSIGNALED(exitStatus) && WTERMSIG(exitStatus) == SIGTRAP;
}

// With no debugger channel, the text goes to standard error as a line.
std::string DebugOutputOnStandardError(const std::string& textPattern) {
  return textPattern + "\n";
}
