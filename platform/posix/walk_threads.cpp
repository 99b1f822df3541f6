#include "platform/posix/walk_threads.h"

#include <sched.h>
#include <sys/resource.h>

#include <cstdlib>

unsigned WalkThreads() {
  if (const char* asked = std::getenv("PACKHOUND_THREADS")) {
    char* end = nullptr;
    const unsigned long count = std::strtoul(asked, &end, 10);
    if (end != asked && *end == '\0' && count >= 1 && count <= kMaxWalkThreads) {
      return static_cast<unsigned>(count);
    }
  }
  cpu_set_t cores;
  CPU_ZERO(&cores);
  if (::sched_getaffinity(0, sizeof cores, &cores) != 0) return 1;
  const int count = CPU_COUNT(&cores);
  if (count < 1) return 1;
  return count > static_cast<int>(kMaxWalkThreads) ? kMaxWalkThreads : static_cast<unsigned>(count);
}

std::size_t ReadAheadDescriptors() {
  constexpr rlim_t kCeiling = 1024;  // more would not keep more threads busy
  struct rlimit limit;
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return 0;
  const rlim_t share = limit.rlim_cur == RLIM_INFINITY ? kCeiling : limit.rlim_cur / 4;
  return static_cast<std::size_t>(share < kCeiling ? share : kCeiling);
}
