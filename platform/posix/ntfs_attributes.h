// The attribute bits NTFS keeps for each file, where the file system's own
// statx cannot say whether a file is compressed: ntfs-3g (a FUSE file
// system, and FUSE sets no statx attributes) answers them as the extended
// attribute system.ntfs_attrib_be, four bytes, big-endian. (The kernel's
// ntfs3 answers it too, and sets the statx attribute itself: there the
// attribute already tells.)
//
// Asked only where it can matter: a device whose statx does not say whether
// it knows the compressed attribute is asked once whether it keeps NTFS
// attributes, by the first file looked at on it; only where it does is each
// file asked, one extended attribute a file.
#pragma once

#include <sys/stat.h>

#include <cstdint>

#include "platform/win32.h"

// What asking a file for its NTFS attributes came to.
enum class Ntfs : std::uint8_t {
  kNotKept,     // its device keeps none (or its statx says enough): nothing asked
  kRead,        // bits holds them
  kUnreadable,  // its device keeps them, and they could not be read: error says why
};

// Whether the file system status comes from leaves the compressed attribute
// unsaid: the only place NTFS attributes are asked for.
inline bool SaysNothingOfCompression(const struct statx& status) {
  return (status.stx_attributes_mask & STATX_ATTR_COMPRESSED) == 0;
}

// Reads the NTFS attribute bits of the entry name of the open directory
// directoryFd, whose status is status (its own, not a link's target's:
// never followed), on a device asked once whether it keeps them. Relative
// to the directory's descriptor, never by a path from the walk's start.
Ntfs ReadNtfsAttributes(int directoryFd, const char* name, const struct statx& status, DWORD& bits,
                        int& error);

// The reparse tag of the entry name of directoryFd, an NTFS reparse point:
// the first four bytes of its system.ntfs_reparse_data, in NTFS's own (little-
// endian) order. False when it cannot be read.
bool ReadNtfsReparseTag(int directoryFd, const char* name, DWORD& tag);

// The tag of a file Windows stores compressed through its overlay filter
// (compact /exe), with no compressed attribute.
inline constexpr DWORD kReparseTagOverlayCompressed = 0x80000017U;
