// Which directories a walk enters: the engine's one rule, which the POSIX
// layer includes from here to read ahead the ones the engine will ask for.
// Needs no OS of its own, only the find record's bits.
#pragma once

#include "platform/win32.h"

// Links, junctions and mount points lead somewhere else in the tree, or back
// up it; following them could count a file twice or never end.
inline bool LeadsElsewhere(const WIN32_FIND_DATAA& record) {
  return (record.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
         IsReparseTagNameSurrogate(record.dwReserved0);
}

inline bool IsDotOrDotDot(const char* name) {
  return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

// Whether the walk enters the entry record describes, called name: a
// directory other than "." and "..", that does not lead elsewhere.
inline bool IsEnteredDirectory(const WIN32_FIND_DATAA& record, const char* name) {
  return (record.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && !IsDotOrDotDot(name) &&
         !LeadsElsewhere(record);
}
