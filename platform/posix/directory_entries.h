// What the directory calls share between the walk on the caller's thread and
// the read-ahead threads: how a directory is opened and how one entry of its
// listing becomes a record.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>

#include <cstddef>
#include <cstdint>

#include "platform/win32.h"

// One getdents64 batch.
inline constexpr std::size_t kBatchSize = 64 * 1024;
inline constexpr std::size_t kMaxNameLength = 255;  // the longest name a POSIX file system holds

inline constexpr unsigned kStatxMask =
    STATX_TYPE | STATX_INO | STATX_SIZE | STATX_ATIME | STATX_MTIME | STATX_CTIME | STATX_BTIME;
// Never wait for the file system, never trigger an automount: a search only looks.
inline constexpr int kStatxLookFlags = AT_NO_AUTOMOUNT | AT_STATX_DONT_SYNC;
// How a directory is opened to be listed, from its path or from its parent.
inline constexpr int kListFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;

inline bool IsDotOrDotDot(const char* name) {
  return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

// "." and ".." met in a listing, handed out after every other entry.
inline constexpr unsigned kHeldDot = 1;
inline constexpr unsigned kHeldDotDot = 2;

// Fills record with "." while it is held, else with "..", and lets go of it;
// both are always directories, and nothing reads their other attributes, so
// they need no statx.
void HandOutHeldDot(unsigned& heldDots, WIN32_FIND_DATAA& record);

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

// Whether the walk enters the entry a record describes: a directory other
// than "." and "..", and not a link or mount point, which lead elsewhere.
inline bool IsEnteredDirectory(const WIN32_FIND_DATAA& record, const char* name) {
  if ((record.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 || IsDotOrDotDot(name)) {
    return false;
  }
  return (record.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 ||
         !IsReparseTagNameSurrogate(record.dwReserved0);
}

// Opens the directory named by the first length characters of path for
// listing, relative to base (AT_FDCWD: the current directory). The kernel
// takes at most PATH_MAX characters in one path, and a tree may well run
// deeper: a longer path is opened one piece at a time, each piece relative to
// the one before. Answers -1 with errno set on failure.
int OpenDirectory(int base, const char* path, std::size_t length);
