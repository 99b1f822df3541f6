#include "platform/posix/stored_compression.h"

#include <fcntl.h>
#include <linux/fiemap.h>
#include <linux/fs.h>
#include <linux/magic.h>
#include <sys/ioctl.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/posix/system_calls.h"
#include "platform/win32.h"

namespace stored_compression {

// Written by the port calls below, read by the walk's threads.
std::atomic<bool> asked{false};
std::atomic<unsigned long long> judgedByAttribute{0};

bool Asked() { return asked.load(std::memory_order_relaxed); }

void NoteJudgedByAttribute() { judgedByAttribute.fetch_add(1, std::memory_order_relaxed); }

}  // namespace stored_compression

namespace {

// Extents asked for in one call: most files have one or a few, and a large
// file's map is read a piece at a time rather than allocated whole.
constexpr unsigned kExtentsPerCall = 32;

// The file is read only to be asked about: no access time to set where the
// owner allows skipping it, never a controlling terminal, never a wait.
constexpr int kOpenFlags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;

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

}  // namespace

bool AsksHowStored(int directoryFd, std::uint64_t device) {
  thread_local std::uint64_t lastDevice = 0;
  thread_local bool lastAnswer = false;
  if (!stored_compression::Asked()) return false;
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
  // Skipping the access time is for the file's owner (and root): anyone
  // else opens it plainly, and a refusal is tried again without it.
  const bool owner = user == 0 || ((status.stx_mask & STATX_UID) != 0 && status.stx_uid == user);
  int fd = system_calls::OpenAt(directoryFd, name, kOpenFlags | (owner ? O_NOATIME : 0));
  if (fd < 0 && errno == EPERM && owner) fd = system_calls::OpenAt(directoryFd, name, kOpenFlags);
  if (fd < 0) {
    return errno == EMFILE || errno == ENFILE || errno == ENOMEM ? Stored::kShort
                                                                 : Stored::kUnopened;
  }
  bool encoded = false;
  const bool answered = AnyExtentEncoded(fd, encoded);
  const int error = errno;
  ::close(fd);
  if (!answered) return error == ENOMEM ? Stored::kShort : Stored::kUnopened;
  return encoded ? Stored::kCompressed : Stored::kPlain;
}

void AskHowFilesAreStored() { stored_compression::asked.store(true, std::memory_order_relaxed); }

unsigned long long FilesJudgedByAttributeAlone() {
  return stored_compression::judgedByAttribute.load(std::memory_order_relaxed);
}
