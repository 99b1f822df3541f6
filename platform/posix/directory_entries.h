// How one entry of a listing becomes a find record, the same for the walk on
// the caller's thread and for the read-ahead threads.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>

#include <cstddef>
#include <cstdint>

#include "platform/win32.h"

// One getdents64 batch.
inline constexpr std::size_t kBatchSize = 64 * 1024;
inline constexpr std::size_t kMaxNameLength = 255;  // the longest name a POSIX file system holds

inline constexpr unsigned kStatxMask = STATX_TYPE | STATX_INO | STATX_UID | STATX_SIZE |
                                       STATX_ATIME | STATX_MTIME | STATX_CTIME | STATX_BTIME;
// Never wait for the file system, never trigger an automount: a search only looks.
inline constexpr int kStatxLookFlags = AT_NO_AUTOMOUNT | AT_STATX_DONT_SYNC;
// How a directory is opened to be listed, from its path or from its parent.
inline constexpr int kListFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;

// The error a directory that cannot be opened for listing answers with.
DWORD ErrorFromOpening(int error);

// For an entry statx could not describe: the error that ends its listing
// there (search permission is the directory's, and memory running out must
// not pass for an entry that vanished), or 0 when the entry is only left out.
DWORD ListingEndingError(int error);

// Describes the entry called name of the open directory directoryFd from its
// status; a link costs a second statx, to learn whether it leads to a
// directory. Sets every field but the names. Answers false when the entry
// was a link that is gone or no longer a link by that second look: it is
// then left out, as an entry that vanished since the listing is.
bool DescribeEntry(int directoryFd, const char* name, const struct statx& status,
                   WIN32_FIND_DATAA& record);

// The device of a status, both halves of its number in one value.
inline std::uint64_t DeviceOf(const struct statx& status) {
  return (std::uint64_t{status.stx_dev_major} << 32) | status.stx_dev_minor;
}

inline bool IsMountRoot(const struct statx& status) {
  return (status.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) != 0 &&
         (status.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0;
}
