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

std::mutex lock;  // guards current and spare, never held across a system call
Start* current = nullptr;
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

// The current start, held, when directory lies below it; null otherwise.
Start* HoldIfBelow(const char* directory, std::size_t length, std::size_t& below) {
  const std::lock_guard<std::mutex> guard(lock);
  if (current == nullptr) return nullptr;
  below = Below(*current, directory, length);
  if (below == 0) return nullptr;
  current->holders.fetch_add(1, std::memory_order_relaxed);
  return current;
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
  {
    const std::lock_guard<std::mutex> guard(lock);
    previous = std::exchange(current, start);
  }
  LetGo(previous);
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
