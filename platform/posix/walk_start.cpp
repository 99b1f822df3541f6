#include "platform/posix/walk_start.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <new>
#include <utility>

#include "platform/posix/directory_entries.h"
#include "platform/posix/system_calls.h"

// One start, its path after it in the same allocation. Shared by every
// thread that opens below it; the last to let go of it closes it.
struct Start {
  std::atomic<unsigned> holders;
  int fd;  // for opening below, never for reading
  std::size_t length;
  std::size_t capacity;  // of the path, its terminator included
  const char* Path() const { return reinterpret_cast<const char*>(this + 1); }
  char* Path() { return reinterpret_cast<char*>(this + 1); }
};

namespace {

std::mutex lock;  // guards current, the bases and spare, never held across a system call
Start* current = nullptr;
// The roots of mounts below the start that the walk searches, each a start
// of its own, the deepest last: what lies below one is opened relative to
// it, as what lies below the start is relative to the start.
constexpr std::size_t kMostMountBases = 32;
Start* bases[kMostMountBases];
std::size_t baseCount = 0;
// The last start let go of, kept for the next one: a process that searches
// one walk after another allocates for its first start only.
Start* spare = nullptr;

void LetGo(Start* start) {
  if (start == nullptr || start->holders.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
  ::close(start->fd);
  {
    const std::lock_guard<std::mutex> guard(lock);
    if (spare == nullptr || spare->capacity < start->capacity) std::swap(spare, start);
  }
  ::operator delete(start);
}

// Room for a start of a path of length characters: the current start's when
// nobody else holds it, or the spare; null when memory is short.
Start* MakeStart(std::size_t length) {
  Start* reused = nullptr;
  {
    const std::lock_guard<std::mutex> guard(lock);
    if (current != nullptr && current->capacity > length &&
        current->holders.load(std::memory_order_acquire) == 1) {
      reused = std::exchange(current, nullptr);
    } else if (spare != nullptr && spare->capacity > length) {
      return std::exchange(spare, nullptr);
    }
  }
  if (reused != nullptr) {
    ::close(reused->fd);
    return reused;
  }
  const std::size_t capacity = length + 1 < 64 ? 64 : length + 1;
  void* raw = ::operator new(sizeof(Start) + capacity, std::nothrow);
  if (raw == nullptr) return nullptr;
  return new (raw) Start{{0}, -1, 0, capacity};
}

// Where the part of directory below start begins, or 0 when it is not below.
std::size_t Below(const Start& start, const char* directory, std::size_t length) {
  if (length <= start.length || directory[start.length] != '/' ||
      std::memcmp(directory, start.Path(), start.length) != 0) {
    return 0;
  }
  std::size_t at = start.length;
  while (at < length && directory[at] == '/') ++at;
  return at < length ? at : 0;
}

// The current start, or the deepest mount base below it, held, when
// directory lies below it; null otherwise.
Start* HoldIfBelow(const char* directory, std::size_t length, std::size_t& below) {
  const std::lock_guard<std::mutex> guard(lock);
  if (current == nullptr) return nullptr;
  below = Below(*current, directory, length);
  if (below == 0) return nullptr;
  Start* base = current;
  for (std::size_t i = baseCount; i > 0; --i) {
    if (const std::size_t belowBase = Below(*bases[i - 1], directory, length)) {
      base = bases[i - 1];
      below = belowBase;
      break;
    }
  }
  base->holders.fetch_add(1, std::memory_order_relaxed);
  return base;
}

// A start for the first length characters of directory, opened as fd (a
// copy is taken), held once; null when memory or a descriptor is short.
Start* NewStart(const char* directory, std::size_t length, int fd) {
  void* raw = ::operator new(sizeof(Start) + length + 1, std::nothrow);
  if (raw == nullptr) return nullptr;
  const int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
  if (copy < 0) {
    ::operator delete(raw);
    return nullptr;
  }
  Start* start = new (raw) Start{{1}, copy, length, length + 1};
  std::memcpy(start->Path(), directory, length);
  start->Path()[length] = '\0';
  return start;
}

}  // namespace

int OpenStart(const char* directory, std::size_t length) {
  const int fd = OpenAsGiven(directory, length);
  int error = errno;
  Start* start = nullptr;
  if (fd >= 0) {
    start = MakeStart(length);
    // The very directory listed, whatever its path names by now; a copy of
    // the listing's descriptor needs no search permission, as opening "."
    // in it would.
    const int copy = start != nullptr ? ::fcntl(fd, F_DUPFD_CLOEXEC, 0) : -1;
    error = start == nullptr ? ENOMEM : errno;
    if (copy >= 0) {
      start->holders.store(1, std::memory_order_relaxed);
      start->fd = copy;
      start->length = length;
      std::memcpy(start->Path(), directory, length);
      start->Path()[length] = '\0';
    } else {
      ::operator delete(start);
      start = nullptr;
    }
  }
  Start* previous = nullptr;
  Start* formerBases[kMostMountBases];
  std::size_t formerCount = 0;
  {
    const std::lock_guard<std::mutex> guard(lock);
    previous = std::exchange(current, start);
    formerCount = std::exchange(baseCount, 0);
    std::memcpy(formerBases, bases, formerCount * sizeof(Start*));
  }
  LetGo(previous);
  for (std::size_t i = 0; i < formerCount; ++i) LetGo(formerBases[i]);
  if (fd >= 0 && start == nullptr) {
    ::close(fd);
    errno = error;
    return -1;
  }
  errno = error;
  return fd;
}

bool IsBelowStart(const char* directory, std::size_t length) {
  std::size_t below = 0;
  Start* start = HoldIfBelow(directory, length, below);
  LetGo(start);
  return start != nullptr;
}

void AddMountBase(const char* directory, std::size_t length, int fd) {
  Start* base = NewStart(directory, length, fd);
  if (base == nullptr) return;  // what lies below is opened from the start: refused as crossing
  {
    const std::lock_guard<std::mutex> guard(lock);
    if (current != nullptr && Below(*current, directory, length) != 0 &&
        baseCount < kMostMountBases) {
      bases[baseCount++] = base;
      base = nullptr;
    }
  }
  LetGo(base);
}

void KeepMountBasesLeadingTo(const char* directory, std::size_t length) {
  Start* gone[kMostMountBases];
  std::size_t goneCount = 0;
  {
    const std::lock_guard<std::mutex> guard(lock);
    while (baseCount > 0) {
      const Start& base = *bases[baseCount - 1];
      const bool leads =
          Below(base, directory, length) != 0 ||
          (length == base.length && std::memcmp(directory, base.Path(), length) == 0);
      if (leads) break;
      gone[goneCount++] = bases[--baseCount];
    }
  }
  for (std::size_t i = 0; i < goneCount; ++i) LetGo(gone[i]);
}

HeldStart::HeldStart() {
  const std::lock_guard<std::mutex> guard(lock);
  start = current;
  if (start != nullptr) start->holders.fetch_add(1, std::memory_order_relaxed);
}

HeldStart::~HeldStart() { LetGo(start); }

int HeldStart::Fd() const { return start->fd; }

int OpenBelowStart(const char* directory, std::size_t length, const ListedDirectory& listed,
                   int flags) {
  std::size_t below = 0;
  Start* start = HoldIfBelow(directory, length, below);
  if (start == nullptr) {
    errno = ENOENT;
    return -1;
  }
  const int fd = OpenBelow(start->fd, directory + below, length - below, listed, flags);
  const int error = errno;
  LetGo(start);
  errno = error;
  return fd;
}
