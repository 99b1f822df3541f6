#include "platform/posix/mounts.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/vfs.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/port.h"
#include "platform/posix/directory_entries.h"
#include "platform/posix/system_calls.h"

namespace {

// Written by the port calls, before the walk or by any thread of it.
std::atomic<bool> searchMounts{false};
std::atomic<bool> compressedByMountOption{false};

// Whether the mount mountId is btrfs mounted to compress, as the kernel's
// table of the process's mounts says: its file system type after the
// separator, and compress or compress-force among its file system's options.
bool MountedToCompress(std::uint64_t mountId) {
  std::ifstream table("/proc/self/mountinfo");
  for (std::string line; std::getline(table, line);) {
    std::istringstream fields(line);
    std::uint64_t id = 0;
    if (!(fields >> id) || id != mountId) continue;
    const std::size_t separator = line.find(" - ");
    if (separator == std::string::npos) return false;
    std::istringstream after(line.substr(separator + 3));
    std::string type, source, options;
    after >> type >> source >> options;
    if (type != "btrfs") return false;
    std::istringstream each(options);
    for (std::string option; std::getline(each, option, ',');) {
      if (option.rfind("compress", 0) == 0) return true;
    }
    return false;
  }
  return false;
}

}  // namespace

bool SearchesMounts() { return searchMounts.load(std::memory_order_relaxed); }

void NoteSearched(int directoryFd, std::uint64_t device) {
  thread_local std::uint64_t lastDevice = 0;
  if (compressedByMountOption.load(std::memory_order_relaxed)) return;  // said once is enough
  if (device != 0 && device == lastDevice) return;
  lastDevice = device;
  struct statfs fileSystem;
  if (::fstatfs(directoryFd, &fileSystem) != 0 ||
      static_cast<unsigned long>(fileSystem.f_type) != BTRFS_SUPER_MAGIC) {
    return;
  }
  struct statx status;
  if (system_calls::Statx(directoryFd, "", AT_EMPTY_PATH | kStatxLookFlags, STATX_MNT_ID,
                          &status) != 0 ||
      MountOf(status) == 0) {
    return;
  }
  if (MountedToCompress(MountOf(status))) {
    compressedByMountOption.store(true, std::memory_order_relaxed);
  }
}

void SearchMountsBelow() { searchMounts.store(true, std::memory_order_relaxed); }

bool FilesCompressedByMountOption() {
  return compressedByMountOption.load(std::memory_order_relaxed);
}
