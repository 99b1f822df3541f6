// The port's own calls on Windows (platform/port.h).
#pragma once

#include "platform/windows/win32_api.h"

// Standard output and error that are consoles show every character as it is,
// whatever the console's code page, and the console is left as it was: text
// goes to it as UTF-16. Redirected, they carry the bytes unchanged. (Windows
// has no signal that kills a writer of a closed pipe.)
void PreparePortProcess();

// The attribute already says how NTFS stores a file: nothing more to ask.
inline void AskHowFilesAreStored() {}

// Mount points are not searched through on Windows: the option changes nothing.
inline void SearchMountsBelow() {}
inline constexpr bool kMountsCanBeSearched = false;

// NTFS's attribute says how every file is stored.
inline bool FilesCompressedByMountOption() { return false; }

// Windows carries the whole 32-bit exit code, so the count is returned as it is.
inline int PortExitStatus(int exitCode) { return exitCode; }

// The system's find calls learn every entry's attributes from the directory
// itself: nothing is ever unknown.
inline DWORD AttributesUnreadable(const WIN32_FIND_DATAA&) { return 0; }
inline bool StorageUnknown(const WIN32_FIND_DATAA&) { return false; }

// The console streams: consoles, and a failed write to standard output.
#include "platform/windows/console_output.h"
