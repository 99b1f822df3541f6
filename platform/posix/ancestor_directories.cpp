#include "platform/posix/ancestor_directories.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <new>
#include <utility>

#include "platform/posix/directory_entries.h"
#include "platform/posix/error_from_errno.h"
#include "platform/posix/path_memory.h"
#include "platform/posix/walk_start.h"
#include "platform/posix/walk_threads.h"

namespace {

// The deepest directories whose descriptors are kept, each one inside the
// one before; more would only hold descriptors for directories the walk
// rarely comes back to.
constexpr std::size_t kMaxKept = 8;

// A subdirectory a listing named, in the listing's order, which is the
// order the walk asks for them in.
struct Child {
  std::uint64_t nameHash;
  ListedDirectory listed;
};

struct Level {
  std::size_t pathLength;  // of its path, the leading part of path below
  std::uint64_t device;    // as its parent's listing said; 0: not known (the start)
  std::uint64_t inode;     // likewise; 0: not known, or the start
  bool mountRoot;          // likewise: the root of a mount the run searches
  // When the walk last knew it to be where its listing put it, below the
  // start: its open by path from the start, or its parent's own, when it was
  // opened relative to its parent. The start is always in place.
  std::int64_t placedAt;
  int fd;  // kept once its listing ended; -1 while its search holds it, or not kept
  std::uint64_t number;
  Child* children;
  std::size_t childCount;
  std::size_t childCapacity;
  std::size_t nextChild;  // where the next one asked for is looked for first
};

// The walk on the caller's thread is the only one that opens directories
// here, so nobody waits on this lock: it is held across the open, so that
// no kept descriptor closes under it, and across the releases.
std::mutex lock;
Level* levels = nullptr;  // levels[0] is the walk's start, whose descriptor walk_start keeps
std::size_t depth = 0;
std::size_t levelCapacity = 0;
std::size_t keptCount = 0;
std::size_t keepLimit = 0;  // set from the descriptors free when a walk starts
std::uint64_t lastNumber = 0;
PathMemory path;  // of the deepest remembered directory

std::uint64_t HashOf(const char* name, std::size_t length) {
  std::uint64_t hash = 14695981039346656037u;
  for (std::size_t i = 0; i < length; ++i) {
    hash = (hash ^ static_cast<unsigned char>(name[i])) * 1099511628211u;
  }
  return hash;
}

void Forget(Level& level) {
  if (level.fd >= 0) {
    ::close(level.fd);
    --keptCount;
  }
  ::operator delete(level.children);
}

void ForgetFrom(std::size_t index) {
  while (depth > index) Forget(levels[--depth]);
}

// Closes every kept descriptor: the walk ran out of them.
void CloseKept() {
  for (std::size_t i = 0; i < depth; ++i) {
    if (levels[i].fd >= 0) ::close(std::exchange(levels[i].fd, -1));
  }
  keptCount = 0;
}

bool Remember(const char* directory, std::size_t keep, std::size_t length, AncestorTicket& ticket) {
  if (depth == levelCapacity) {
    const std::size_t capacity = levelCapacity == 0 ? 64 : levelCapacity * 2;
    auto* grown = static_cast<Level*>(::operator new(capacity * sizeof(Level), std::nothrow));
    if (grown == nullptr) return false;
    if (depth > 0) std::memcpy(grown, levels, depth * sizeof(Level));
    ::operator delete(levels);
    levels = grown;
    levelCapacity = capacity;
  }
  if (!path.Remember(directory, keep, length)) return false;
  ticket.number = ++lastNumber;
  levels[depth++] = Level{length, 0, 0, false, INT64_MAX, -1, ticket.number, nullptr, 0, 0, 0};
  return true;
}

// What the listing of level said of its subdirectory name; nothing when it
// was not noted (memory ran short), and then it is opened unchecked.
//
// Matched by the hash of the name alone, which a collision cannot turn into
// a wrong answer that passes: the walk asks in the listing's order, so the
// child looked at first is the one asked for; and were another child's note
// taken, the directory opened would have to carry that child's device and
// inode to pass the check, that is, be a directory the same listing named.
ListedDirectory Lookup(Level& level, const char* name, std::size_t length) {
  const std::uint64_t hash = HashOf(name, length);
  for (std::size_t i = 0; i < level.childCount; ++i) {
    const std::size_t at = (level.nextChild + i) % level.childCount;
    if (level.children[at].nameHash == hash) {
      level.nextChild = at + 1;
      return level.children[at].listed;
    }
  }
  return ListedDirectory();
}

Level* LevelOf(const AncestorTicket& ticket) {
  for (std::size_t i = depth; ticket.number != 0 && i > 0; --i) {
    if (levels[i - 1].number == ticket.number) return &levels[i - 1];
  }
  return nullptr;
}

// Whether the subdirectory name (nameLength characters) of parent is opened
// by that one name, relative to parent's kept descriptor or to the start's:
// then the "." of its first batch is check enough (FirstBatchIsOf).
bool OpensByOneName(const Level& parent, bool parentIsStart, const char* name,
                    std::size_t nameLength) {
  return (parent.fd >= 0 || parentIsStart) && nameLength <= kMaxNameLength &&
         std::memchr(name, '/', nameLength) == nullptr;
}

// Whether parent, whose descriptor is kept, may still be opened relative to:
// it is where its listing put it, as the walk made sure within the freshness
// window, or makes sure now by opening its path from the start. A directory
// moved out of the tree is then never searched further from its descriptor.
//
// Found by its path, the parent is in place, and so is every directory on
// that path, the walk's branch above it: they are all known in place from
// now on. A parent more than PATH_MAX characters below the start is not
// looked for by its path, which would cost a step for every level above it
// each time: it is taken to be in place.
bool StillInPlace(std::size_t parentIndex, const char* directory, std::int64_t now) {
  Level& parent = levels[parentIndex];
  if (now - parent.placedAt <= kFreshNanoseconds || parent.pathLength >= PATH_MAX) return true;
  const ListedDirectory listed{parent.device, parent.inode, 0, parent.mountRoot};
  const int fd = OpenBelowStart(directory, parent.pathLength, listed, O_PATH | O_DIRECTORY);
  if (fd < 0) return false;
  ::close(fd);
  for (std::size_t i = 1; i <= parentIndex; ++i) {
    if (levels[i].placedAt < now) levels[i].placedAt = now;
  }
  return true;
}

// Opens the subdirectory name (nameLength characters) of parent: by that one
// name from parent's descriptor (byOneName, parent not the start), otherwise
// by directory, its path, from the start.
int OpenBelowParent(const Level& parent, bool byOneName, bool parentIsStart, const char* directory,
                    std::size_t length, const char* name, std::size_t nameLength,
                    const ListedDirectory& listed) {
  if (!byOneName || parentIsStart) return OpenBelowStart(directory, length, listed, kListFlags);
  char copy[kMaxNameLength + 1];
  std::memcpy(copy, name, nameLength);
  copy[nameLength] = '\0';
  return OpenListedDirectory(parent.fd, copy, listed, kListFlags);
}

}  // namespace

int OpenAsDescendant(const char* directory, std::size_t length, AncestorTicket& ticket,
                     ListedDirectory& unchecked, DWORD& error) {
  ticket.number = 0;
  unchecked = ListedDirectory();
  const std::lock_guard<std::mutex> guard(lock);
  // The deepest remembered directory whose path leads to this one.
  std::size_t found = depth;
  while (found > 0) {
    const std::size_t prefix = levels[found - 1].pathLength;
    if (prefix < length && directory[prefix] == '/' && path.Leads(directory, prefix)) {
      break;
    }
    --found;
  }
  if (found == 0) {
    // Not below the walk: a new one starts here, as given.
    ForgetFrom(0);
    const std::size_t free = FreeDescriptors();
    keepLimit = free > 2 ? (free - 2) / 2 : 0;
    if (keepLimit > kMaxKept) keepLimit = kMaxKept;
    const int fd = OpenStart(directory, length);
    if (fd < 0) {
      error = ErrorFromOpening(errno);
      return -1;
    }
    if (!Remember(directory, 0, length, ticket)) {
      ::close(fd);
      error = ERROR_NOT_ENOUGH_MEMORY;
      return -1;
    }
    return fd;
  }
  ForgetFrom(found);
  Level& parent = levels[found - 1];
  std::size_t at = parent.pathLength;
  while (at < length && directory[at] == '/') ++at;
  const std::size_t nameLength = length - at;
  ListedDirectory listed = Lookup(parent, directory + at, nameLength);
  const ListedDirectory asListed = listed;
  const bool parentIsStart = found == 1;
  const std::int64_t now = Now();
  // Opened by its one name, on its parent's device, a directory's inode
  // names it: the caller checks it against the listing's own "." (on the
  // same mount: the open refuses crossing one). Opened by a longer path, it
  // is checked in full.
  const bool oneName = OpensByOneName(parent, parentIsStart, directory + at, nameLength) &&
                       (parentIsStart || StillInPlace(found - 1, directory, now));
  if (oneName && listed.inode != 0 && listed.device == parent.device && !listed.mountRoot) {
    std::swap(listed, unchecked);
  }
  int fd = OpenBelowParent(parent, oneName, parentIsStart, directory, length, directory + at,
                           nameLength, listed);
  if (fd < 0 && OutOfDescriptors(errno) && keptCount > 0) {
    // What is kept only saves time: give it back, and open from the start,
    // checked in full.
    CloseKept();
    unchecked = ListedDirectory();
    fd = OpenBelowStart(directory, length, asListed, kListFlags);
  }
  if (fd < 0) {
    error = ErrorFromOpeningBelow(errno, asListed);
    return -1;
  }
  const std::int64_t parentPlacedAt = parent.placedAt;
  if (!Remember(directory, parent.pathLength, length, ticket)) {
    ::close(fd);
    error = ERROR_NOT_ENOUGH_MEMORY;
    return -1;
  }
  Level& opened = levels[depth - 1];
  opened.device = asListed.device;
  opened.inode = asListed.inode;
  opened.mountRoot = asListed.mountRoot;
  // What lies below a mount searched is opened relative to its root.
  if (asListed.mountRoot) AddMountBase(directory, length, fd);
  // Opened from its parent, it is known in place as long as its parent is.
  opened.placedAt = oneName && !parentIsStart ? parentPlacedAt : now;
  return fd;
}

void NoteSubdirectory(const AncestorTicket& ticket, const char* name,
                      const ListedDirectory& listed) {
  const std::lock_guard<std::mutex> guard(lock);
  Level* level = LevelOf(ticket);
  if (level == nullptr) return;
  if (level->childCount == level->childCapacity) {
    const std::size_t capacity = level->childCapacity == 0 ? 16 : level->childCapacity * 2;
    auto* grown = static_cast<Child*>(::operator new(capacity * sizeof(Child), std::nothrow));
    if (grown == nullptr) return;  // opened unchecked, still below the start
    if (level->childCount > 0)
      std::memcpy(grown, level->children, level->childCount * sizeof(Child));
    ::operator delete(level->children);
    level->children = grown;
    level->childCapacity = capacity;
  }
  level->children[level->childCount++] = Child{HashOf(name, std::strlen(name)), listed};
}

void LetGoOfDirectory(int fd, AncestorTicket& ticket) {
  const std::lock_guard<std::mutex> guard(lock);
  Level* level = LevelOf(ticket);
  ticket.number = 0;
  // The start's own descriptor is kept by walk_start.
  if (level == nullptr || level == &levels[0] || keepLimit == 0) {
    ::close(fd);
    return;
  }
  if (keptCount == keepLimit) {
    // The deepest are kept: the shallowest kept one goes.
    for (std::size_t i = 1; i < depth; ++i) {
      if (levels[i].fd >= 0) {
        ::close(std::exchange(levels[i].fd, -1));
        --keptCount;
        break;
      }
    }
  }
  level->fd = fd;
  ++keptCount;
}
