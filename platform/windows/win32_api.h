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
