// Other file systems met below the walk's start: searched when the run asks
// (SearchMountsBelow), each root opened as any directory below the start is,
// checked against its listing, the crossing onto it allowed for that one step
// only; and btrfs mounted to compress, whose compressed files carry no
// attribute, noted for the hint that --extents finds them.
#pragma once

#include <cstdint>

// Whether the run searches the roots of mounts below the start.
bool SearchesMounts();

// Notes the open directory directoryFd, on device (as its listing said; 0:
// not known), as searched: one on btrfs mounted with compress or
// compress-force makes FilesCompressedByMountOption() true. Looked at once a
// device for each thread: one fstatfs, and on btrfs one statx and one reading
// of /proc/self/mountinfo.
void NoteSearched(int directoryFd, std::uint64_t device);
