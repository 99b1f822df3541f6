#include "platform/posix/open_below.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>

#include "platform/posix/directory_entries.h"
#include "platform/posix/system_calls.h"

namespace {

// The errno of a directory swapped for another one since its listing.
constexpr int kSwapped = ESTALE;

// Opens one piece of a path (at most PATH_MAX - 1 characters, terminated)
// relative to base with openat2, refusing links, mount crossings and any
// way above base.
int OpenPiece(int base, const char* piece, int flags) {
  struct open_how how;
  std::memset(&how, 0, sizeof how);
  how.flags = static_cast<std::uint64_t>(flags | O_NOFOLLOW | O_CLOEXEC);
  how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_XDEV | RESOLVE_NO_MAGICLINKS;
  return static_cast<int>(system_calls::OpenAt2(base, piece, &how));
}

// Where a directory is, for the checks of a walk without openat2: its mount
// (STATX_MNT_ID), or its device on a kernel too old to say.
struct Place {
  std::uint64_t mount = 0;
  std::uint64_t device = 0;
  bool Holds(const struct statx& status) const {
    return mount != 0 ? MountOf(status) == mount : DeviceOf(status) == device;
  }
};

// Opens one name relative to base without openat2: O_NOFOLLOW refuses a
// link as the last (only) name, and the mount and mount-root checks refuse
// a mount on it. A btrfs subvolume is on the same mount with a device of its
// own: the mount is what openat2 would have refused to cross, not the device.
int OpenNameChecked(int base, const char* name, int flags, const Place& place) {
  const int fd = system_calls::OpenAt(base, name, flags | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return fd;
  struct statx status;
  if (system_calls::Statx(fd, "", AT_EMPTY_PATH | kStatxLookFlags, STATX_TYPE | STATX_MNT_ID,
                          &status) != 0) {
    const int error = errno;
    ::close(fd);
    errno = error;
    return -1;
  }
  if (!place.Holds(status) || IsMountRoot(status)) {
    ::close(fd);
    errno = EXDEV;
    return -1;
  }
  return fd;
}

// Where the open directory fd is; false with errno set when statx fails.
bool PlaceOfOpen(int fd, Place& place) {
  struct statx status;
  if (system_calls::Statx(fd, "", AT_EMPTY_PATH | kStatxLookFlags, STATX_TYPE | STATX_MNT_ID,
                          &status) != 0) {
    return false;
  }
  place = Place{MountOf(status), DeviceOf(status)};
  return true;
}

// A directory its listing could not look at is refused without an open;
// ErrorFromOpeningBelow answers the listing's own error for it.
int Refuse() {
  errno = EACCES;
  return -1;
}

// Opens name, the root of another mount in the open directory parentFd, as
// listed: across the mount point for that one step (no link, nothing above
// parentFd), then checked to be a mount's root and the one the listing saw.
int OpenMountRoot(int parentFd, const char* name, const ListedDirectory& listed, int flags) {
  int fd = -1;
  if (HasOpenat2()) {
    struct open_how how;
    std::memset(&how, 0, sizeof how);
    how.flags = static_cast<std::uint64_t>(flags | O_NOFOLLOW | O_CLOEXEC);
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
    fd = static_cast<int>(system_calls::OpenAt2(parentFd, name, &how));
  } else {
    fd = system_calls::OpenAt(parentFd, name, flags | O_NOFOLLOW | O_CLOEXEC);
  }
  if (fd < 0) return -1;
  struct statx status;
  status.stx_mask = 0;
  if (system_calls::Statx(fd, "", AT_EMPTY_PATH | kStatxLookFlags, STATX_TYPE | STATX_INO,
                          &status) != 0 ||
      !IsMountedOn(status) || status.stx_ino != listed.inode || DeviceOf(status) != listed.device) {
    const int error = (status.stx_mask & STATX_INO) != 0 ? kSwapped : errno;
    ::close(fd);
    errno = error;
    return -1;
  }
  return fd;
}

// fd when it is the directory listed; otherwise -1, fd closed and errno set.
int CheckListed(int fd, const ListedDirectory& listed) {
  if (fd < 0 || listed.inode == 0 || IsListed(fd, listed)) return fd;
  const int error = errno;
  ::close(fd);
  errno = error;
  return -1;
}

// Opens path (length characters) relative to start without openat2, one name
// at a time; names but the last are opened O_PATH, each checked for its device.
int OpenNameByName(int start, const char* path, std::size_t length, int flags) {
  Place place;
  if (!PlaceOfOpen(start, place)) return -1;
  char name[kMaxNameLength + 1];
  int base = start;
  std::size_t at = 0;
  for (;;) {
    while (at < length && path[at] == '/') ++at;
    std::size_t end = at;
    while (end < length && path[end] != '/') ++end;
    std::size_t next = end;
    while (next < length && path[next] == '/') ++next;
    const bool last = next >= length;
    int fd = -1;
    if (end == at || end - at > kMaxNameLength) {
      errno = end == at ? ENOENT : ENAMETOOLONG;
    } else if ((end - at == 1 && path[at] == '.') ||
               (end - at == 2 && path[at] == '.' && path[at + 1] == '.')) {
      errno = EXDEV;  // never up, and no name of a listing is a dot
    } else {
      std::memcpy(name, path + at, end - at);
      name[end - at] = '\0';
      fd = OpenNameChecked(base, name, last ? flags : O_PATH | O_DIRECTORY, place);
    }
    const int error = errno;
    if (base != start) ::close(base);
    if (fd < 0 || last) {
      errno = error;
      return fd;
    }
    base = fd;
    at = next;
  }
}

// Opens the directory path names (length characters) relative to base, a
// piece at a time: the kernel takes at most PATH_MAX characters at once, and
// a tree may run deeper. Each piece but the last is opened O_PATH relative
// to the one before, by openPiece(base, piece, flags). Separators after a
// piece never make the next one absolute, and a path that ends in them names
// the directory itself.
template <typename OpenPieceCall>
int OpenByPieces(int base, const char* path, std::size_t length, int flags,
                 OpenPieceCall openPiece) {
  char piece[PATH_MAX];
  const int top = base;
  std::size_t start = 0;
  for (;;) {
    const std::size_t rest = length - start;
    std::size_t cut = rest;
    if (rest >= sizeof piece) {
      // The last separator that keeps this piece short enough.
      cut = sizeof piece - 1;
      while (cut > 0 && path[start + cut] != '/') --cut;
    }
    int fd = -1;
    if (rest > 0 && cut == 0) {
      errno = ENAMETOOLONG;  // one name longer than any file system allows
    } else {
      if (rest == 0) {
        piece[0] = '.';
        cut = 1;
      } else {
        std::memcpy(piece, path + start, cut);
      }
      piece[cut] = '\0';
      fd = openPiece(base, piece, cut >= rest ? flags : O_PATH | O_DIRECTORY | O_CLOEXEC);
    }
    const int error = errno;
    if (base != top) ::close(base);
    if (fd < 0 || cut >= rest) {
      errno = error;
      return fd;
    }
    base = fd;
    start += cut;
    while (start < length && path[start] == '/') ++start;
  }
}

}  // namespace

std::int64_t Now() {
  struct timespec now;
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return now.tv_sec * std::int64_t{1000000000} + now.tv_nsec;
}

bool HasOpenat2() {
  // 0: not asked yet; 1: there; 2: missing or refused. Any thread may ask
  // first: each gets the same answer.
  static std::atomic<int> known{0};
  int answer = known.load(std::memory_order_relaxed);
  if (answer == 0) {
    struct open_how how;
    std::memset(&how, 0, sizeof how);
    how.flags = O_PATH | O_CLOEXEC;
    const long fd = ::syscall(SYS_openat2, AT_FDCWD, "/", &how, sizeof how);
    answer = fd >= 0 || (errno != ENOSYS && errno != EPERM) ? 1 : 2;
    if (fd >= 0) ::close(static_cast<int>(fd));
    known.store(answer, std::memory_order_relaxed);
  }
  return answer == 1;
}

int OpenListedDirectory(int parentFd, const char* name, const ListedDirectory& listed, int flags) {
  if (listed.refusal != 0) return Refuse();
  if (listed.mountRoot) return OpenMountRoot(parentFd, name, listed, flags);
  const int fd = HasOpenat2() ? OpenPiece(parentFd, name, flags)
                              : OpenNameByName(parentFd, name, std::strlen(name), flags);
  return CheckListed(fd, listed);
}

int OpenBelow(int startFd, const char* path, std::size_t length, const ListedDirectory& listed,
              int flags) {
  if (listed.refusal != 0) return Refuse();
  if (listed.mountRoot) {
    // Only the last step crosses: the way to it is opened as any other.
    std::size_t end = length;
    while (end > 0 && path[end - 1] == '/') --end;
    std::size_t name = end;
    while (name > 0 && path[name - 1] != '/') --name;
    char last[kMaxNameLength + 1];
    if (end == name || end - name > kMaxNameLength) {
      errno = end == name ? ENOENT : ENAMETOOLONG;
      return -1;
    }
    std::memcpy(last, path + name, end - name);
    last[end - name] = '\0';
    const int parentFd =
        name == 0 ? startFd
                  : OpenBelow(startFd, path, name, ListedDirectory(), O_PATH | O_DIRECTORY);
    if (parentFd < 0) return -1;
    const int fd = OpenMountRoot(parentFd, last, listed, flags);
    const int error = errno;
    if (parentFd != startFd) ::close(parentFd);
    errno = error;
    return fd;
  }
  const int fd = HasOpenat2() ? OpenByPieces(startFd, path, length, flags, OpenPiece)
                              : OpenNameByName(startFd, path, length, flags);
  return CheckListed(fd, listed);
}

int OpenAsGiven(const char* path, std::size_t length) {
  if (length == 0) return system_calls::OpenAt(AT_FDCWD, "/", kListFlags);
  return OpenByPieces(AT_FDCWD, path, length, kListFlags,
                      [](int base, const char* piece, int flags) {
                        return system_calls::OpenAt(base, piece, flags);
                      });
}

bool IsListed(int fd, const ListedDirectory& listed) {
  struct statx status;
  if (system_calls::Statx(fd, "", AT_EMPTY_PATH | kStatxLookFlags, STATX_INO, &status) != 0) {
    return false;
  }
  if (status.stx_ino == listed.inode && DeviceOf(status) == listed.device) return true;
  errno = kSwapped;
  return false;
}

bool FirstBatchIsOf(const ListedDirectory& listed, int fd, const char* batch, std::size_t length) {
  for (std::size_t offset = 0; offset < length;) {
    const auto* entry = reinterpret_cast<const struct dirent64*>(batch + offset);
    offset += entry->d_reclen;
    if (entry->d_name[0] == '.' && entry->d_name[1] == '\0') {
      if (entry->d_ino == listed.inode) return true;
      break;
    }
  }
  return IsListed(fd, listed);
}

bool ChangedSinceListing(int error) {
  return error == ELOOP || error == EXDEV || error == ENOTDIR || error == kSwapped;
}

DWORD ErrorFromOpeningBelow(int error, const ListedDirectory& listed) {
  if (listed.refusal != 0) return listed.refusal;
  if (error == ENOTDIR && listed.inode == 0) return ERROR_DIRECTORY;
  return ChangedSinceListing(error) ? ERROR_FILE_INVALID : ErrorFromOpening(error);
}
