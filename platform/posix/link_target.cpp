#include "platform/posix/link_target.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "platform/posix/directory_entries.h"
#include "platform/posix/mounts.h"
#include "platform/posix/open_below.h"
#include "platform/posix/system_calls.h"
#include "platform/posix/walk_start.h"

namespace {

// The most links one resolution follows, as the kernel's own does.
constexpr int kMostLinks = 40;
// The deepest a resolution by hand goes below where it began.
constexpr int kMostLevels = 128;
// How often a resolution through ".." is asked of openat2 before it is done by hand.
constexpr int kOpenat2Tries = 4;

bool TypeAndMount(int fd, struct statx& status) {
  return system_calls::Statx(fd, "", AT_EMPTY_PATH | kStatxLookFlags, STATX_TYPE | STATX_MNT_ID,
                             &status) == 0;
}

// Where the open directory fd is, as the kernel names it: false when it
// cannot say (no /proc, a path past PATH_MAX, a directory removed).
bool PlaceOf(int fd, char (&place)[PATH_MAX], std::size_t& length) {
  char link[32];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  const ssize_t got = ::readlink(link, place, sizeof place);
  if (got <= 0 || static_cast<std::size_t>(got) >= sizeof place || place[0] != '/') return false;
  length = static_cast<std::size_t>(got);
  constexpr char kGone[] = " (deleted)";
  if (length >= sizeof kGone - 1 &&
      std::memcmp(place + length - (sizeof kGone - 1), kGone, sizeof kGone - 1) == 0) {
    return false;
  }
  place[length] = '\0';
  return true;
}

// Where path (length characters) lies below top (topLength characters, an
// absolute path as PlaceOf gives it): the offset of what follows top and its
// separators; -1 when path does not lie at or below top.
long Below(const char* top, std::size_t topLength, const char* path, std::size_t length) {
  if (topLength == 1) return path[0] == '/' ? 1 : -1;  // the root holds every path
  if (length < topLength || std::memcmp(path, top, topLength) != 0) return -1;
  if (length == topLength) return static_cast<long>(length);
  if (path[topLength] != '/') return -1;
  std::size_t at = topLength;
  while (at < length && path[at] == '/') ++at;
  return static_cast<long>(at);
}

// Opens with O_PATH what path leads to, resolved below base the way openat2
// resolves with RESOLVE_BENEATH | RESOLVE_NO_XDEV, a name at a time, for a
// kernel without openat2: links are followed, but never through an
// absolute path, never above base, never onto another mount.
int ResolveByHand(int base, const char* path) {
  struct statx own;
  if (!TypeAndMount(base, own)) return -1;
  const std::uint64_t mount = MountOf(own);
  const std::uint64_t device = DeviceOf(own);
  int levels[kMostLevels];  // the directories gone through; none: base itself
  int depth = 0;
  const auto fail = [&](int error) {
    while (depth > 0) ::close(levels[--depth]);
    errno = error;
    return -1;
  };
  // What is left to resolve, text[start, rest): a link's text goes in front.
  char text[PATH_MAX];
  std::size_t rest = std::strlen(path);
  if (rest >= sizeof text) return fail(ENAMETOOLONG);
  std::memcpy(text, path, rest);
  std::size_t start = 0;
  int links = 0;
  while (start < rest) {
    if (text[start] == '/') return fail(EXDEV);
    std::size_t end = start;
    while (end < rest && text[end] != '/') ++end;
    char piece[kMaxNameLength + 1];
    if (end - start > kMaxNameLength) return fail(ENAMETOOLONG);
    std::memcpy(piece, text + start, end - start);
    piece[end - start] = '\0';
    start = end;
    while (start < rest && text[start] == '/') ++start;
    if (std::strcmp(piece, ".") == 0) continue;
    if (std::strcmp(piece, "..") == 0) {
      if (depth == 0) return fail(EXDEV);
      ::close(levels[--depth]);
      continue;
    }
    const int next = system_calls::OpenAt(depth > 0 ? levels[depth - 1] : base, piece,
                                          O_PATH | O_NOFOLLOW | O_CLOEXEC);
    if (next < 0) return fail(errno);
    struct statx status;
    status.stx_mask = 0;
    if (!TypeAndMount(next, status) ||
        (mount != 0 ? MountOf(status) != mount : DeviceOf(status) != device)) {
      const int error = (status.stx_mask & STATX_TYPE) != 0 ? EXDEV : errno;
      ::close(next);
      return fail(error);
    }
    if (!S_ISLNK(status.stx_mode)) {
      if (depth == kMostLevels) {
        ::close(next);
        return fail(ENAMETOOLONG);
      }
      levels[depth++] = next;
      continue;
    }
    char target[PATH_MAX];
    const ssize_t length = ::readlinkat(next, "", target, sizeof target);
    const int error = errno;
    ::close(next);
    if (++links > kMostLinks) return fail(ELOOP);
    if (length <= 0) return fail(length < 0 ? error : ENOENT);
    const std::size_t left = rest - start;
    if (static_cast<std::size_t>(length) + 1 + left > sizeof text) return fail(ENAMETOOLONG);
    std::memmove(text + length + 1, text + start, left);
    std::memcpy(text, target, static_cast<std::size_t>(length));
    text[length] = '/';
    rest = static_cast<std::size_t>(length) + 1 + left;
    start = 0;
  }
  if (depth == 0) return system_calls::OpenAt(base, ".", O_PATH | O_DIRECTORY | O_CLOEXEC);
  const int reached = levels[--depth];
  while (depth > 0) ::close(levels[--depth]);
  return reached;
}

// Opens with O_PATH what path leads to below base, links followed, never
// above base or across a mount. -1 with errno set.
int ResolveBelow(int base, const char* path) {
  if (!HasOpenat2()) return ResolveByHand(base, path);
  struct open_how how;
  std::memset(&how, 0, sizeof how);
  how.flags = O_PATH | O_CLOEXEC;
  how.resolve = RESOLVE_BENEATH | RESOLVE_NO_XDEV | RESOLVE_NO_MAGICLINKS;
  // A ".." met while anything on the system is renamed or mounted is
  // answered EAGAIN: the kernel could not prove it stayed below base. That
  // says nothing of the link; ask again, and past a few tries (someone
  // renaming without pause) resolve by hand, which keeps its own levels.
  for (int tries = 0; tries < kOpenat2Tries; ++tries) {
    const int fd = static_cast<int>(system_calls::OpenAt2(base, path, &how));
    if (fd >= 0 || errno != EAGAIN) return fd;
  }
  return ResolveByHand(base, path);
}

// Opens with O_PATH what the link name of directoryFd leads to inside the
// tree whose start is startFd. -1 with errno set.
int OpenTarget(int startFd, int directoryFd, const char* name) {
  char top[PATH_MAX];
  char here[PATH_MAX];
  std::size_t topLength = 0;
  std::size_t hereLength = 0;
  if (!PlaceOf(startFd, top, topLength) || !PlaceOf(directoryFd, here, hereLength)) {
    return ResolveBelow(directoryFd, name);
  }
  const long below = Below(top, topLength, here, hereLength);
  if (below < 0) {
    errno = EXDEV;  // the directory itself has left the tree
    return -1;
  }
  const std::size_t belowLength = hereLength - static_cast<std::size_t>(below);
  const std::size_t nameLength = std::strlen(name);
  char path[PATH_MAX];
  if (belowLength + 1 + nameLength >= sizeof path) return ResolveBelow(directoryFd, name);
  std::memcpy(path, here + below, belowLength);
  std::size_t length = belowLength;
  if (length > 0) path[length++] = '/';
  std::memcpy(path + length, name, nameLength + 1);
  const int fd = ResolveBelow(startFd, path);
  if (fd >= 0 || errno != EXDEV) return fd;
  // Inside a mount below the start that the run searches, the way from the
  // start crosses its mount point: there a link is looked through below its
  // own directory.
  if (SearchesMounts()) {
    const int inside = ResolveBelow(directoryFd, name);
    if (inside >= 0 || errno != EXDEV) return inside;
  }
  // An absolute path that names a place below the start leads into the tree.
  char target[PATH_MAX];
  const ssize_t targetLength = ::readlinkat(directoryFd, name, target, sizeof target - 1);
  if (targetLength <= 0 || target[0] != '/') {
    errno = EXDEV;
    return -1;
  }
  target[targetLength] = '\0';
  const long inside = Below(top, topLength, target, static_cast<std::size_t>(targetLength));
  if (inside < 0) {
    errno = EXDEV;
    return -1;
  }
  return ResolveBelow(startFd, inside < targetLength ? target + inside : ".");
}

}  // namespace

int LinkLeadsToDirectory(int directoryFd, const char* name) {
  const HeldStart start;
  const int fd = start ? OpenTarget(start.Fd(), directoryFd, name) : -1;
  if (fd < 0) {
    if (!start) errno = EXDEV;
    return -1;
  }
  struct statx target;
  const bool looked = TypeAndMount(fd, target);
  const int error = errno;
  ::close(fd);
  if (!looked) {
    errno = error;
    return -1;
  }
  return S_ISDIR(target.stx_mode) ? 1 : 0;
}
