// How one entry of a listing becomes a find record, the same for the walk on
// the caller's thread and for the read-ahead threads.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

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

// What looking at one entry came to.
enum class Look : std::uint8_t {
  kLeftOut,     // vanished since the listing (a race, not an error): showing it would
                // show an unknown entry as an ordinary uncompressed file
  kDescribed,   // record describes it, perhaps as an entry whose attributes could not be read
  kEndsListing  // refused: the listing ends before it, with the error given
};

// For an entry of the open directory directoryFd, of type (the listing's
// d_type), that statx could not look at for error: left out when it
// vanished; the end of the listing when the directory refuses every entry
// alike (no search permission) or memory ran out, which must not pass for
// an entry that vanished; otherwise the entry's own problem, and record
// describes it as one whose attributes could not be read
// (AttributesUnreadable). Out of line: only a refusal comes here.
Look LookRefused(int directoryFd, unsigned char type, int error, WIN32_FIND_DATAA& record,
                 DWORD& refusal);

// Describes the entry called name of the open directory directoryFd from its
// status; a link costs a look at its target (link_target.h), to learn
// whether it leads to a directory of the tree: a link that does not is a
// file. Sets every field but the names. Answers false when the entry was a link that is
// gone or no longer a link by that second look: it is then left out, as an
// entry that vanished since the listing is.
bool DescribeEntry(int directoryFd, const char* name, const struct statx& status,
                   WIN32_FIND_DATAA& record);

// The device of a status, both halves of its number in one value.
inline std::uint64_t DeviceOf(const struct statx& status) {
  return (std::uint64_t{status.stx_dev_major} << 32) | status.stx_dev_minor;
}

// The mount a status was taken on (STATX_MNT_ID), where the C library's
// record has no name for the field yet; 0 when the kernel did not say.
inline std::uint64_t MountOf(const struct statx& status) {
  constexpr std::size_t kMountIdAt = offsetof(struct statx, stx_dev_minor) + sizeof(std::uint32_t);
  static_assert(kMountIdAt + sizeof(std::uint64_t) <= sizeof(struct statx));
  if ((status.stx_mask & STATX_MNT_ID) == 0) return 0;
  std::uint64_t id = 0;
  std::memcpy(&id, reinterpret_cast<const char*>(&status) + kMountIdAt, sizeof id);
  return id;
}

// The root of a mount, as opposed to a trigger that would mount one.
inline bool IsMountedOn(const struct statx& status) {
  return (status.stx_attributes_mask & status.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0;
}

// The root of another mount, or a trigger that would mount one when entered.
inline bool IsMountRoot(const struct statx& status) {
  constexpr std::uint64_t kMountAttributes = STATX_ATTR_MOUNT_ROOT | STATX_ATTR_AUTOMOUNT;
  return (status.stx_attributes_mask & status.stx_attributes & kMountAttributes) != 0;
}
