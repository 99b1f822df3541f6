#include "fuzz/fatal_error_trap.h"
#include "app/fatal_error.h"

// The callers reach this outside any exception handler and expect no return;
// unwinding out of it is as final for them.
void FatalError(const char* message, int exitCode) { throw FatalExit{message, exitCode}; }
