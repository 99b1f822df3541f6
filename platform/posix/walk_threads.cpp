#include "platform/posix/walk_threads.h"

#include <sched.h>
#include <sys/resource.h>

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

std::size_t ReadAheadDescriptors() {
  constexpr rlim_t kCeiling = 1024;  // more would not keep more threads busy
  struct rlimit limit;
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return 0;
  const rlim_t share = limit.rlim_cur == RLIM_INFINITY ? kCeiling : limit.rlim_cur / 4;
  return static_cast<std::size_t>(share < kCeiling ? share : kCeiling);
}
