// Why a directory could not be searched, in the words the user reads.
#pragma once

#include "platform/win32.h"

// Room for the words of any search error, terminator included.
inline constexpr int kSearchErrorRoom = 32;

// Whether error, the last error of a search that answered no entry or no
// further one, only says that there was nothing (more) to list: an empty
// directory, the root of an empty drive, the end of a listing.
bool IsEndOfListing(DWORD error);

// The reason in plain words ("access denied"), for a line that names the
// directory. An error without words of its own is told by its number, written
// into room; the answer is room or a constant text.
const char* SearchErrorText(DWORD error, char (&room)[kSearchErrorRoom]);
