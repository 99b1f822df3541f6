#include <windows.h>

#include "tests/support/debug_break.h"

// The breakpoint exception goes unhandled, and its code becomes the exit code.
bool EndedByDebugBreak(int exitStatus) {
  return static_cast<DWORD>(exitStatus) == static_cast<DWORD>(EXCEPTION_BREAKPOINT);
}

// The text goes to the debugger, if any: nothing reaches standard error.
std::string DebugOutputOnStandardError(const std::string&) { return "^$"; }
