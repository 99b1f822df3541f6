// The end of the process on an error the user must see.
#pragma once

// Message for a run that cannot get the memory it needs.
inline constexpr const char kOutOfMemoryMessage[] = "Out of memory";

// Writes "Packhound: <message>; cannot continue." as one line on standard
// error and ends the process with exitCode through the normal exit.
[[noreturn]] void FatalError(const char* message, int exitCode);
