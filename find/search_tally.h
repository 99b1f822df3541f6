// The run-wide flags and counters of the one search of the process.
#pragma once

#include "platform/win32.h"
#include "text/cstring.h"

struct SearchTally {
  bool searchUncompressed = false;  // count files whose compressed bit is clear instead
  LONG foundCount = 0;              // matching files
  DWORD examinedCount = 0;          // files handed to OnFile; directories never count
  DWORD directoryCount = 0;         // directories searched so far, the start's included
  bool listFiles = true;            // one listing line per matching file
  bool listEndsWithNull = false;    // each listing line ends with a NUL byte, not a newline
  // Files examined whose storage could not be asked about (how the file
  // system stores their data), so that their attribute alone told.
  unsigned long long judgedByAttributeCount = 0;
  // Mount points below the start that a recursive search passed over, and
  // the first of them as a listing line would name it.
  DWORD mountPointCount = 0;
  CString firstMountPoint;
};

extern SearchTally searchTally;
