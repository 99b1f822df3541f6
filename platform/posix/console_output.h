// The port's calls about the console streams the run writes to, on POSIX
// (platform/port.h): which of them is a terminal, and why a write to
// standard output failed.
#pragma once

// Whether standard output, or standard error, is a terminal. Asked once, at
// the start: names shown on a terminal have their control bytes replaced.
bool StandardOutputIsTerminal();
bool StandardErrorIsTerminal();

// Why the write to standard output that has just failed did, asked right
// after it (before anything else can change errno): the reason in plain words
// ("no space left on the device"), or null when its reader has gone (a
// closed pipe), which ends the run without a word.
const char* OutputFailureReason();

// What a terminal takes for "erase to the end of the line": a line drawn
// over an older one needs nothing else.
inline constexpr char kEraseToLineEnd[] = "\033[K";
