// The real Win32 interface, plus the few port constants the code shares with
// the POSIX layer.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <shlwapi.h>
#include <windows.h>

// Path separator of this platform's file names.
inline constexpr char kPathSeparator = '\\';

// Room for a full path, terminator included.
inline constexpr DWORD kFullPathBufferSize = MAX_PATH;

// Standard output and error that are consoles show every character as it is,
// whatever the console's code page, and the console is left as it was: text
// goes to it as UTF-16. Redirected, they carry the bytes unchanged. (Windows
// has no signal that kills a writer of a closed pipe.)
void PreparePortProcess();

// The attribute already says how NTFS stores a file: nothing more to ask.
inline void AskHowFilesAreStored() {}
inline unsigned long long FilesJudgedByAttributeAlone() { return 0; }

// Windows carries the whole 32-bit exit code, so the count is returned as it is.
inline int PortExitStatus(int exitCode) { return exitCode; }
