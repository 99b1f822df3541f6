#include "platform/posix/path_memory.h"

#include <new>
#include <utility>

bool PathMemory::Remember(const char* path, std::size_t keep, std::size_t newLength) {
  if (newLength + 1 > capacity) {
    // Twice what is asked: a walk goes deeper a level at a time.
    const std::size_t grownCapacity = (newLength + 1) * 2;
    std::unique_ptr<char[]> grown(new (std::nothrow) char[grownCapacity]);
    if (grown == nullptr) return false;
    if (keep > 0) std::memcpy(grown.get(), text.get(), keep);
    text = std::move(grown);
    capacity = grownCapacity;
  }
  std::memcpy(text.get() + keep, path + keep, newLength - keep);
  text[newLength] = '\0';
  length = newLength;
  return true;
}
