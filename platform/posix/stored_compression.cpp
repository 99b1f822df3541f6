#include "platform/posix/stored_compression.h"

#include <fcntl.h>
#include <linux/btrfs.h>
#include <linux/btrfs_tree.h>
#include <linux/fiemap.h>
#include <linux/fs.h>
#include <linux/magic.h>
#include <linux/openat2.h>
#include <sys/ioctl.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/port.h"
#include "platform/posix/directory_entries.h"
#include "platform/posix/error_from_errno.h"
#include "platform/posix/mounts.h"
#include "platform/posix/open_below.h"
#include "platform/posix/system_calls.h"
#include "platform/win32.h"

namespace stored_compression {

// Written by the port call below, before the walk; read by the walk's threads.
std::atomic<bool> asked{false};

bool Asked() { return asked.load(std::memory_order_relaxed); }

}  // namespace stored_compression

namespace {

// Extents asked for in one call: most files have one or a few, and a large
// file's map is read a piece at a time rather than allocated whole.
constexpr unsigned kExtentsPerCall = 32;

// The file is read only to be asked about: no access time to set where the
// owner allows skipping it, never a controlling terminal, never a wait.
constexpr int kOpenFlags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;

// Finds name in the open directory directoryFd without opening it: no link
// followed, no mount crossed, nothing above the directory. -1 with errno set.
int FindWithoutOpening(int directoryFd, const char* name) {
  if (HasOpenat2()) {
    struct open_how how;
    std::memset(&how, 0, sizeof how);
    how.flags = O_PATH | O_NOFOLLOW | O_CLOEXEC;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_XDEV | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
    return static_cast<int>(system_calls::OpenAt2(directoryFd, name, &how));
  }
  // One name, never a link: only a mount on it could lead elsewhere, and
  // the caller's check of what was found refuses that.
  return system_calls::OpenAt(directoryFd, name, O_PATH | O_NOFOLLOW | O_CLOEXEC);
}

// Whether the file found as fd is the regular file status described, on no
// mount of its own: anything else put in its place since is not opened.
bool IsTheFileListed(int fd, const struct statx& status) {
  struct statx found;
  if (system_calls::Statx(fd, "", AT_EMPTY_PATH | kStatxLookFlags, STATX_TYPE | STATX_INO,
                          &found) != 0) {
    return false;
  }
  return S_ISREG(found.stx_mode) && found.stx_ino == status.stx_ino &&
         DeviceOf(found) == DeviceOf(status) && !IsMountRoot(found);
}

// The process's descriptor folder (/proc/self/fd), opened once when the
// run asks how files are stored, before the walk counts the descriptors it
// may use; -1 when it could not be.
std::atomic<int> descriptorFolder{-1};

// Opens for reading the very file found as fd (O_PATH), through the
// kernel's own link to it, which cannot lead to another file: one name
// below the descriptor folder rather than its whole path each time.
int OpenFound(int fd, int flags) {
  char name[32];
  const int folder = descriptorFolder.load(std::memory_order_relaxed);
  if (folder >= 0) {
    std::snprintf(name, sizeof name, "%d", fd);
    return system_calls::OpenAt(folder, name, flags);
  }
  std::snprintf(name, sizeof name, "/proc/self/fd/%d", fd);
  return system_calls::OpenAt(AT_FDCWD, name, flags);
}

// Whether an extent of the open file fd is stored encoded. False with errno
// set when the file system cannot say.
bool AnyExtentEncoded(int fd, bool& encoded) {
  alignas(struct fiemap) unsigned char
      room[sizeof(struct fiemap) + kExtentsPerCall * sizeof(struct fiemap_extent)];
  auto* map = reinterpret_cast<struct fiemap*>(room);
  encoded = false;
  std::uint64_t start = 0;
  for (;;) {
    std::memset(map, 0, sizeof *map);
    map->fm_start = start;
    map->fm_length = FIEMAP_MAX_OFFSET - start;
    map->fm_extent_count = kExtentsPerCall;
    if (::ioctl(fd, FS_IOC_FIEMAP, map) != 0) return false;
    const unsigned mapped = map->fm_mapped_extents;
    if (mapped == 0) return true;  // nothing more stored: a hole or the end
    for (unsigned i = 0; i < mapped; ++i) {
      const struct fiemap_extent& extent = map->fm_extents[i];
      if ((extent.fe_flags & FIEMAP_EXTENT_ENCODED) != 0) {
        encoded = true;
        return true;
      }
      if ((extent.fe_flags & FIEMAP_EXTENT_LAST) != 0) return true;
    }
    const struct fiemap_extent& last = map->fm_extents[mapped - 1];
    const std::uint64_t next = last.fe_logical + last.fe_length;
    if (next <= start) return true;  // a map that does not move on ends here
    start = next;
  }
}

// The file system's own record of a file's extents, read by inode number
// relative to the directory, so that nothing is opened at all: btrfs's tree
// search, which only root may make. The first refusal is remembered and
// FIEMAP on the opened file answers from then on.
std::atomic<bool> treeSearchRefused{false};

// Where the compression of a file extent item (struct btrfs_file_extent_item,
// packed) lies: after its generation and its size in memory; 0 is none.
constexpr std::size_t kCompressionOffset = 16;
constexpr unsigned char kNotCompressed = 0;

// Room for the items of one search: an inline extent carries its data
// (at most a page), and most files have one item or a few.
constexpr std::size_t kSearchRoom = 16384;

enum class Searched : std::uint8_t { kPlain, kCompressed, kCannot };

// Whether an extent of inode, in the subvolume of the open directory
// directoryFd, is stored compressed, as FIEMAP would report it encoded.
Searched SearchExtents(int directoryFd, std::uint64_t inode) {
  alignas(struct btrfs_ioctl_search_args_v2) thread_local unsigned char
      room[sizeof(struct btrfs_ioctl_search_args_v2) + kSearchRoom];
  auto* search = reinterpret_cast<struct btrfs_ioctl_search_args_v2*>(room);
  std::uint64_t offset = 0;
  for (;;) {
    std::memset(&search->key, 0, sizeof search->key);
    search->key.tree_id = 0;  // the directory's own subvolume
    search->key.min_objectid = search->key.max_objectid = inode;
    search->key.min_type = search->key.max_type = BTRFS_EXTENT_DATA_KEY;
    search->key.min_offset = offset;
    search->key.max_offset = UINT64_MAX;
    search->key.max_transid = UINT64_MAX;
    search->key.nr_items = UINT32_MAX;
    search->buf_size = kSearchRoom;
    if (::ioctl(directoryFd, BTRFS_IOC_TREE_SEARCH_V2, search) != 0) {
      if (errno == EPERM || errno == EACCES || errno == ENOTTY || errno == EINVAL) {
        treeSearchRefused.store(true, std::memory_order_relaxed);
      }
      return Searched::kCannot;
    }
    const std::uint32_t items = search->key.nr_items;
    if (items == 0) return Searched::kPlain;
    std::size_t at = 0;
    std::uint64_t last = offset;
    for (std::uint32_t i = 0; i < items; ++i) {
      struct btrfs_ioctl_search_header header;
      if (at + sizeof header > kSearchRoom) return Searched::kCannot;
      std::memcpy(&header, search->buf + at, sizeof header);
      at += sizeof header;
      if (at + header.len > kSearchRoom) return Searched::kCannot;
      if (header.objectid == inode && header.type == BTRFS_EXTENT_DATA_KEY &&
          header.len > kCompressionOffset &&
          search->buf[at + kCompressionOffset] != kNotCompressed) {
        return Searched::kCompressed;
      }
      last = header.offset;
      at += header.len;
    }
    if (last == UINT64_MAX) return Searched::kPlain;
    offset = last + 1;
  }
}

}  // namespace

bool AsksHowStored(int directoryFd, std::uint64_t device) {
  thread_local std::uint64_t lastDevice = 0;
  thread_local bool lastAnswer = false;
  if (!stored_compression::Asked()) {
    // Not asked, the run may still tell the user what it would find.
    NoteSearched(directoryFd, device);
    return false;
  }
  if (device != 0 && device == lastDevice) return lastAnswer;
  struct statfs fileSystem;
  const bool answer = ::fstatfs(directoryFd, &fileSystem) == 0 &&
                      static_cast<unsigned long>(fileSystem.f_type) == BTRFS_SUPER_MAGIC;
  if (device != 0) {
    lastDevice = device;
    lastAnswer = answer;
  }
  return answer;
}

Stored AskHowStored(int directoryFd, const char* name, const struct statx& status) {
  static const uid_t user = ::geteuid();
  if (!S_ISREG(status.stx_mode)) return Stored::kNotAsked;
  // Nothing stored, nothing stored encoded: no call needed.
  if ((status.stx_mask & STATX_SIZE) != 0 && status.stx_size == 0) return Stored::kPlain;
  const auto failed = [] { return ShortOfResources(errno) ? Stored::kShort : Stored::kUnopened; };
  // Found first without being opened, and opened only once it is known to
  // be the regular file the listing named: a FIFO, a device or a file from
  // elsewhere swapped in since is never opened.
  system_calls::Reach(system_calls::Point::kAskingHowStored, name);
  const int found = FindWithoutOpening(directoryFd, name);
  if (found < 0) return failed();
  if (!IsTheFileListed(found, status)) {
    ::close(found);
    errno = ESTALE;
    return Stored::kUnopened;
  }
  if (!treeSearchRefused.load(std::memory_order_relaxed)) {
    // Where root may, the file system is asked by inode number, the file
    // found held so that its number stays its own: nothing is opened.
    const Searched searched = SearchExtents(directoryFd, status.stx_ino);
    if (searched != Searched::kCannot) {
      ::close(found);
      return searched == Searched::kCompressed ? Stored::kCompressed : Stored::kPlain;
    }
  }
  // Skipping the access time is for the file's owner (and root): anyone
  // else opens it plainly, and a refusal is tried again without it.
  const bool owner = user == 0 || ((status.stx_mask & STATX_UID) != 0 && status.stx_uid == user);
  int fd = OpenFound(found, kOpenFlags | (owner ? O_NOATIME : 0));
  if (fd < 0 && errno == EPERM && owner) fd = OpenFound(found, kOpenFlags);
  const int openError = errno;
  ::close(found);
  if (fd < 0) {
    errno = openError;
    return failed();
  }
  bool encoded = false;
  const bool answered = AnyExtentEncoded(fd, encoded);
  const int error = errno;
  ::close(fd);
  if (!answered) return ShortOfResources(error) ? Stored::kShort : Stored::kUnopened;
  return encoded ? Stored::kCompressed : Stored::kPlain;
}

void AskHowFilesAreStored() {
  descriptorFolder.store(::open("/proc/self/fd", O_PATH | O_DIRECTORY | O_CLOEXEC),
                         std::memory_order_relaxed);
  stored_compression::asked.store(true, std::memory_order_relaxed);
}
