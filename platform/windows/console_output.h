// The port's calls about the console streams the run writes to, on Windows
// (platform/port.h): which of them is a console, and why a write to standard
// output failed.
#pragma once

// Whether standard output, or standard error, is a console. Asked once, at
// the start: names shown on a console have their control bytes replaced.
bool StandardOutputIsTerminal();
bool StandardErrorIsTerminal();

// Why the write to standard output that has just failed did, asked right
// after it (before another call can change the last error): the reason in
// plain words ("no space left on the device"), or null when its reader has
// gone (a closed pipe), which ends the run without a word.
const char* OutputFailureReason();

// A console shows an escape sequence as text unless virtual terminal
// processing is on, which the run leaves as it found it: a line drawn over an
// older one is blanked to its end with spaces instead.
inline constexpr char kEraseToLineEnd[] = "";
