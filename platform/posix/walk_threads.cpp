#include "platform/posix/walk_threads.h"

#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdlib>

namespace {

// Disk reads wait far longer than the calls that follow them cost: this many
// threads to a core keep the disk's queue busy on a cold cache.
constexpr unsigned kDiskThreadsPerCore = 4;

// The number PACKHOUND_THREADS asks for; 0 when it asks for none that may be had.
unsigned AskedThreads() {
  const char* asked = std::getenv("PACKHOUND_THREADS");
  if (asked == nullptr) return 0;
  char* end = nullptr;
  const unsigned long count = std::strtoul(asked, &end, 10);
  if (end == asked || *end != '\0' || count < 1 || count > kMaxWalkThreads) return 0;
  return static_cast<unsigned>(count);
}

unsigned Cores() {
  cpu_set_t cores;
  CPU_ZERO(&cores);
  if (::sched_getaffinity(0, sizeof cores, &cores) != 0) return 1;
  const int count = CPU_COUNT(&cores);
  return count < 1 ? 1u : static_cast<unsigned>(count);
}

unsigned AtMostTheMost(unsigned count) { return count < kMaxWalkThreads ? count : kMaxWalkThreads; }

}  // namespace

unsigned WalkThreads() {
  const unsigned asked = AskedThreads();
  return asked != 0 ? asked : AtMostTheMost(Cores());
}

unsigned DiskWalkThreads() {
  const unsigned asked = AskedThreads();
  return asked != 0 ? asked : AtMostTheMost(Cores() * kDiskThreadsPerCore);
}

std::size_t FreeDescriptors() {
  struct rlimit limit;
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return 0;
  const rlim_t most = limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur > kMaxCountedDescriptors
                          ? kMaxCountedDescriptors
                          : limit.rlim_cur;
  // Counted from the kernel's own list, less the descriptor that reads it;
  // where it cannot be read, the lowest free numbers tell nothing, so the
  // limit is taken as it is.
  const int list = ::open("/proc/self/fd", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (list < 0) return static_cast<std::size_t>(most);
  std::size_t open = 0;
  alignas(struct dirent64) char batch[4096];
  ssize_t length;
  while ((length = ::getdents64(list, batch, sizeof batch)) > 0) {
    for (ssize_t offset = 0; offset < length;) {
      const auto* entry = reinterpret_cast<const struct dirent64*>(batch + offset);
      offset += entry->d_reclen;
      if (entry->d_name[0] != '.' && std::strtoul(entry->d_name, nullptr, 10) < most) ++open;
    }
  }
  ::close(list);
  open = open > 0 ? open - 1 : 0;  // the list's own
  return open < most ? static_cast<std::size_t>(most) - open : 0;
}

std::size_t ReadAheadDescriptors() {
  constexpr std::size_t kCeiling = 1024;  // more would not keep more threads busy
  const std::size_t free = FreeDescriptors();
  const std::size_t share = free > 2 ? (free - 2) / 2 : 0;
  return share < kCeiling ? share : kCeiling;
}
