// What DebugBreak leaves of a process with no debugger attached, and where
// the debugger output written before it goes, on the platform the tests run on.
#pragma once

#include <string>

// Whether a death test's exit status is that of a process DebugBreak ended.
bool EndedByDebugBreak(int exitStatus);

// A regular expression for the standard error of such a process, given one
// for the text it wrote with OutputDebugStringA.
std::string DebugOutputOnStandardError(const std::string& textPattern);
