#include "platform/posix/ancestor_directories.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <new>

#include "platform/posix/directory_entries.h"
#include "platform/posix/walk_threads.h"

namespace {

// The deepest directories remembered, each one inside the one before; more
// would only hold descriptors for directories the walk rarely comes back to.
constexpr std::size_t kMaxRemembered = 8;

struct Remembered {
  std::size_t pathLength;  // of its path, the leading part of path below
  int fd;                  // -1 while its search holds it, or once given back
  std::uint64_t number;
};

// Guarded by lock: the walk has one thread, but the calls may come from any.
std::mutex lock;
Remembered chain[kMaxRemembered];
std::size_t depth = 0;  // of chain
std::size_t descriptorsKept = 0;
std::size_t descriptorShare = 0;
std::uint64_t lastNumber = 0;
char* path = nullptr;  // of the deepest remembered directory
std::size_t pathCapacity = 0;

// Forgets the remembered directories from index on; their descriptors go to fds.
void ForgetFrom(std::size_t index, int* fds, std::size_t& fdCount) {
  while (depth > index) {
    const Remembered& gone = chain[--depth];
    if (gone.fd >= 0) {
      fds[fdCount++] = gone.fd;
      --descriptorsKept;
    }
  }
}

// Makes room for one more: the shallowest is forgotten, and its descriptor goes to fds.
void MakeRoom(int* fds, std::size_t& fdCount) {
  if (depth < kMaxRemembered) return;
  if (chain[0].fd >= 0) {
    fds[fdCount++] = chain[0].fd;
    --descriptorsKept;
  }
  std::memmove(chain, chain + 1, (depth - 1) * sizeof chain[0]);
  --depth;
}

bool RememberPath(const char* directory, std::size_t keep, std::size_t length) {
  if (length + 1 > pathCapacity) {
    const std::size_t capacity = (length + 1) * 2;
    char* grown = static_cast<char*>(::operator new(capacity, std::nothrow));
    if (grown == nullptr) return false;
    if (keep > 0) std::memcpy(grown, path, keep);
    ::operator delete(path);
    path = grown;
    pathCapacity = capacity;
  }
  std::memcpy(path + keep, directory + keep, length - keep);
  return true;
}

}  // namespace

int OpenAsDescendant(const char* directory, std::size_t length, AncestorTicket& ticket) {
  ticket.number = 0;
  // Held across the open, so that no descriptor of the chain closes under
  // it. The walk has one thread; a search begun meanwhile on another one
  // opens by path.
  std::unique_lock<std::mutex> guard(lock, std::try_to_lock);
  if (!guard.owns_lock()) {
    return length == 0 ? OpenDirectory(AT_FDCWD, "/", 1)
                       : OpenDirectory(AT_FDCWD, directory, length);
  }
  int fds[kMaxRemembered + 1];
  std::size_t fdCount = 0;
  // The deepest remembered directory, with its descriptor, whose path leads to this one.
  std::size_t found = depth;
  while (found > 0) {
    const Remembered& candidate = chain[found - 1];
    const std::size_t prefix = candidate.pathLength;
    if (candidate.fd >= 0 && prefix < length && directory[prefix] == '/' &&
        std::memcmp(directory, path, prefix) == 0) {
      break;
    }
    --found;
  }
  ForgetFrom(found, fds, fdCount);
  if (found == 0) descriptorShare = ReadAheadDescriptors();
  for (std::size_t i = 0; i < fdCount; ++i) ::close(fds[i]);
  fdCount = 0;

  // The path of the deepest left, now the one found, leads this one's.
  const std::size_t keep = depth > 0 ? chain[depth - 1].pathLength : 0;
  const int fd = depth == 0
                     ? length == 0 ? OpenDirectory(AT_FDCWD, "/", 1)
                                   : OpenDirectory(AT_FDCWD, directory, length)
                     : OpenDirectory(chain[depth - 1].fd, directory + keep + 1, length - keep - 1);
  if (fd < 0) return fd;
  const int openError = errno;
  MakeRoom(fds, fdCount);
  if (RememberPath(directory, keep, length)) {
    ticket.number = ++lastNumber;
    chain[depth++] = Remembered{length, -1, ticket.number};
  } else {
    ForgetFrom(0, fds, fdCount);  // short of memory: opened by path from now on
  }
  for (std::size_t i = 0; i < fdCount; ++i) ::close(fds[i]);
  errno = openError;
  return fd;
}

void LetGoOfDirectory(int fd, AncestorTicket& ticket) {
  int spare = fd;
  {
    const std::lock_guard<std::mutex> guard(lock);
    for (std::size_t i = depth; ticket.number != 0 && i > 0; --i) {
      Remembered& remembered = chain[i - 1];
      if (remembered.number != ticket.number) continue;
      if (remembered.fd < 0 && descriptorsKept < descriptorShare) {
        remembered.fd = fd;
        ++descriptorsKept;
        spare = -1;
      }
      break;
    }
    ticket.number = 0;
  }
  if (spare >= 0) ::close(spare);
}
