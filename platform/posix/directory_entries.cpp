#include "platform/posix/directory_entries.h"

#include <dirent.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>

#include "platform/port.h"
#include "platform/posix/error_from_errno.h"
#include "platform/posix/link_target.h"
#include "platform/posix/mounts.h"
#include "platform/posix/ntfs_attributes.h"
#include "platform/posix/open_below.h"
#include "platform/posix/stored_compression.h"
#include "platform/posix/system_calls.h"

namespace {

// 100-nanosecond ticks since 1601, the platform's time; earlier times are 0,
// times too late for 64 bits the largest.
FILETIME ToFileTime(const struct statx_timestamp& time) {
  constexpr std::int64_t kSecondsFrom1601To1970 = 11644473600;
  constexpr std::uint64_t kTicksPerSecond = 10000000;
  constexpr std::uint64_t kLastSecond = (UINT64_MAX - kTicksPerSecond) / kTicksPerSecond;
  // In unsigned arithmetic: no second count can overflow it.
  const std::uint64_t seconds = static_cast<std::uint64_t>(time.tv_sec) + kSecondsFrom1601To1970;
  const std::uint64_t ticks = time.tv_sec < -kSecondsFrom1601To1970 ? 0
                              : seconds > kLastSecond
                                  ? UINT64_MAX
                                  : seconds * kTicksPerSecond + time.tv_nsec / 100;
  return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

bool HasAttribute(const struct statx& status, std::uint64_t attribute) {
  return (status.stx_attributes_mask & attribute) != 0 && (status.stx_attributes & attribute) != 0;
}

// Whether name in directoryFd is still the link that status described.
bool StillTheSameLink(int directoryFd, const char* name, const struct statx& status) {
  struct statx again;
  return system_calls::Statx(directoryFd, name, AT_SYMLINK_NOFOLLOW | kStatxLookFlags,
                             STATX_TYPE | STATX_INO, &again) == 0 &&
         S_ISLNK(again.stx_mode) && again.stx_ino == status.stx_ino;
}

// Whether the file name of directoryFd, whose NTFS attributes are ntfs, is
// one Windows stores compressed through its overlay filter (compact /exe), a
// reparse point that carries no compressed attribute: asked only when the
// run asks how files are stored.
bool OverlayCompressed(int directoryFd, const char* name, DWORD ntfs) {
  if ((ntfs & FILE_ATTRIBUTE_REPARSE_POINT) == 0 || !stored_compression::Asked()) return false;
  DWORD tag = 0;
  return ReadNtfsReparseTag(directoryFd, name, tag) && tag == kReparseTagOverlayCompressed;
}

// Whether the open directory directoryFd lets this process look up names in it.
bool Searchable(int directoryFd) {
  struct statx itself;
  return system_calls::Statx(directoryFd, ".", AT_SYMLINK_NOFOLLOW | kStatxLookFlags, STATX_TYPE,
                             &itself) == 0 ||
         errno != EACCES;
}

}  // namespace

DWORD ErrorFromOpening(int error) {
  // Asked to list a file, Windows answers ERROR_DIRECTORY.
  return error == ENOTDIR ? ERROR_DIRECTORY : ErrorFromErrno(error, ERROR_PATH_NOT_FOUND);
}

Look LookRefused(int directoryFd, unsigned char type, int error, WIN32_FIND_DATAA& record,
                 DWORD& refusal) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
    case ESTALE:
      return Look::kLeftOut;
    case ENOMEM:
      refusal = ERROR_NOT_ENOUGH_MEMORY;
      return Look::kEndsListing;
    case EACCES:
      // Search permission belongs to the directory: then every entry is refused alike.
      if (!Searchable(directoryFd)) {
        refusal = ERROR_ACCESS_DENIED;
        return Look::kEndsListing;
      }
      break;
    default:
      break;
  }
  // As the listing named it, and nothing more: a directory is never entered
  // (its listing's refusal answers for it), a file matches no search.
  record.dwFileAttributes = type == DT_DIR ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
  record.dwReserved0 = 0;
  record.dwReserved1 = ErrorFromErrno(error, ERROR_READ_FAULT) & kAttributesUnreadableMask;
  record.nFileSizeHigh = record.nFileSizeLow = 0;
  record.ftCreationTime = record.ftLastAccessTime = record.ftLastWriteTime = FILETIME{0, 0};
  return Look::kDescribed;
}

bool DescribeEntry(int directoryFd, const char* name, const struct statx& status,
                   WIN32_FIND_DATAA& record) {
  DWORD attributes = 0;
  DWORD reparseTag = 0;
  const bool directory = S_ISDIR(status.stx_mode);
  if (directory) attributes |= FILE_ATTRIBUTE_DIRECTORY;
  if (HasAttribute(status, STATX_ATTR_COMPRESSED)) attributes |= FILE_ATTRIBUTE_COMPRESSED;
  if (HasAttribute(status, STATX_ATTR_ENCRYPTED)) attributes |= FILE_ATTRIBUTE_ENCRYPTED;
  if (S_ISLNK(status.stx_mode)) {
    // As the platform reports a directory link: a reparse point with the directory bit.
    attributes |= FILE_ATTRIBUTE_REPARSE_POINT;
    reparseTag = IO_REPARSE_TAG_SYMLINK;
    const int leads = LinkLeadsToDirectory(directoryFd, name);
    if (leads > 0) {
      attributes |= FILE_ATTRIBUTE_DIRECTORY;
    } else if (leads < 0 && !StillTheSameLink(directoryFd, name, status)) {
      // Its target could not be looked at because the link itself went
      // (swapped back for a directory, say): a dangling link would be a
      // file, and this is not one.
      return false;
    }
  } else if (IsMountRoot(status) && !(directory && SearchesMounts() && IsMountedOn(status))) {
    attributes |= FILE_ATTRIBUTE_REPARSE_POINT;
    reparseTag = IO_REPARSE_TAG_MOUNT_POINT;
  }
  record.dwReserved1 = 0;
  // Where the file system's statx leaves it unsaid, a file's own NTFS
  // attributes say whether it is compressed. A directory's do not matter.
  if (!directory && SaysNothingOfCompression(status)) [[unlikely]] {
    DWORD ntfs = 0;
    int error = 0;
    switch (ReadNtfsAttributes(directoryFd, name, status, ntfs, error)) {
      case Ntfs::kRead:
        attributes |= ntfs & FILE_ATTRIBUTE_COMPRESSED;
        if (OverlayCompressed(directoryFd, name, ntfs)) attributes |= FILE_ATTRIBUTE_COMPRESSED;
        break;
      case Ntfs::kUnreadable:
        record.dwReserved1 = ErrorFromErrno(error, ERROR_READ_FAULT) & kAttributesUnreadableMask;
        break;
      case Ntfs::kNotKept:
        break;
    }
  }
  record.dwFileAttributes = attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL;
  record.dwReserved0 = reparseTag;

  // The platform gives directories no size.
  const std::uint64_t size = directory ? 0 : status.stx_size;
  record.nFileSizeHigh = static_cast<DWORD>(size >> 32);
  record.nFileSizeLow = static_cast<DWORD>(size);
  record.ftLastWriteTime = ToFileTime(status.stx_mtime);
  record.ftLastAccessTime = ToFileTime(status.stx_atime);
  // Without a birth time, the older of the two others is the closest answer.
  const struct statx_timestamp& changed = status.stx_ctime;
  const struct statx_timestamp& modified = status.stx_mtime;
  const bool changedFirst =
      changed.tv_sec < modified.tv_sec ||
      (changed.tv_sec == modified.tv_sec && changed.tv_nsec < modified.tv_nsec);
  record.ftCreationTime = ToFileTime((status.stx_mask & STATX_BTIME) != 0 ? status.stx_btime
                                     : changedFirst                       ? changed
                                                                          : modified);
  return true;
}
