// The port's own calls on POSIX (platform/port.h).
#pragma once

#include "platform/posix/win32_api.h"

// Makes the process safe for console use: a write to a closed pipe must fail
// like any other write instead of killing the process, and the standard
// descriptors must stay reserved so that no directory or file takes their place.
// Lets the stack grow as far as the system allows, for trees of any depth.
void PreparePortProcess();

// Asks, for the rest of the run, how each file's data is stored: a file the
// file system stores compressed, with no attribute to say so, is described
// as compressed all the same (stored_compression.h).
void AskHowFilesAreStored();

// Asks, for the rest of the run, that directories below the start that are
// the roots of other mounted file systems be searched too, each opened as
// any directory below the start is (mounts.h). Before the walk.
void SearchMountsBelow();
// Whether SearchMountsBelow can search them here: a line telling the user of
// mount points not searched names it.
inline constexpr bool kMountsCanBeSearched = true;

// Whether a directory the walk searched lies on btrfs mounted with its
// compress (or compress-force) option, whose files carry no compressed
// attribute: --extents finds them. Asked once the walk has ended.
bool FilesCompressedByMountOption();

// POSIX exit status carries 8 bits: counts stop at 254, errors (negative) are 255.
inline int PortExitStatus(int exitCode) {
  if (exitCode < 0) return 255;
  return exitCode > 254 ? 254 : exitCode;
}

// What the walk could not learn of an entry it hands out, in the find
// record's dwReserved1, which the system's own calls leave reserved: the low
// half holds the error that kept every attribute of the entry from being
// read (0: they were read), kStorageUnknown that asking how its data is
// stored failed, so that only its attribute tells.
inline constexpr DWORD kAttributesUnreadableMask = 0xFFFF;
inline constexpr DWORD kStorageUnknown = 0x10000;

inline DWORD AttributesUnreadable(const WIN32_FIND_DATAA& record) {
  return record.dwReserved1 & kAttributesUnreadableMask;
}
inline bool StorageUnknown(const WIN32_FIND_DATAA& record) {
  return (record.dwReserved1 & kStorageUnknown) != 0;
}

// The console streams: terminals, and a failed write to standard output.
#include "platform/posix/console_output.h"
