// The run-wide flags and counters of the one search of the process.
#pragma once

#include "platform/win32.h"

struct SearchTally {
  bool searchUncompressed = false;  // count files whose compressed bit is clear instead
  LONG foundCount = 0;              // matching files
  DWORD examinedCount = 0;          // files handed to OnFile; directories never count
  bool listFiles = true;            // one listing line per matching file
};

extern SearchTally searchTally;
