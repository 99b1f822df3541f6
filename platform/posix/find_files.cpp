// Directory enumeration of the Win32 interface over getdents64 and statx.
//
// One search is one open directory and one 64 KiB batch of its listing, read
// with getdents64. Per entry the only system call is one statx relative to
// the open directory (a symbolic link costs a second one, to learn whether
// it leads to a directory); the pattern is matched before it, and nothing is
// allocated. "." and ".." are described from the listing alone, and handed
// out after every other entry: the first entry a search answers has then been
// looked at with statx, so that FindFirstFileA refuses a directory whose
// entries cannot be looked at (read but no search permission) as a whole.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <bit>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <new>
#include <utility>

#include "platform/posix/error_from_errno.h"
#include "platform/posix/system_calls.h"
#include "platform/posix/wildcard.h"
#include "platform/win32.h"

namespace {

constexpr std::size_t kBatchSize = 64 * 1024;
constexpr std::size_t kMaxNameLength = 255;  // the longest name a POSIX file system holds

constexpr unsigned kStatxMask =
    STATX_TYPE | STATX_SIZE | STATX_ATIME | STATX_MTIME | STATX_CTIME | STATX_BTIME;
// Never wait for the file system, never trigger an automount: a search only looks.
constexpr int kStatxLookFlags = AT_NO_AUTOMOUNT | AT_STATX_DONT_SYNC;

constexpr unsigned kHeldDot = 1;
constexpr unsigned kHeldDotDot = 2;

struct Search {
  int directoryFd;  // -1 once the listing is exhausted
  bool everyName;   // the pattern takes every name: no matching needed
  std::size_t patternLength;
  char pattern[kMaxNameLength + 1];
  std::size_t batchLength;
  std::size_t batchOffset;
  unsigned heldDots;  // kHeldDot, kHeldDotDot: met in the listing, not yet handed out
  // A listing fills kBatchSize bytes; the rest is room for a name copy that
  // runs past the end of the last name.
  alignas(struct dirent64) char batch[kBatchSize + kMaxNameLength + 1];
};

// A handle names a slot and the number its search got when it was opened,
// never an address: any value that comes back, stale or made up, is checked
// without touching released memory and without a lock. Slots are never
// released, and closing a search clears its slot's handle, so the handle of a
// closed search matches nothing, not even once its slot holds another search.
struct Slot {
  std::atomic<std::uintptr_t> handle;  // of the search open in it; 0 while free
  // Set before handle, read only once handle matches. Made for the slot's
  // first search and kept for the next ones: a walk opens one directory after
  // another, and reusing the batch saves allocating and releasing it each time.
  Search* search;
  Slot* nextFree;
  std::uintptr_t index;
};

// Slots come in segments that double in size, the first one static: a walk
// that keeps one directory open at a time never allocates one.
constexpr std::uintptr_t kFirstSegmentSlots = 64;
constexpr unsigned kSegmentCount = 14;  // about a million searches open at once
constexpr unsigned kSlotBits = 20;      // the bits of a handle that name its slot
constexpr std::uintptr_t kSlotMask = (std::uintptr_t{1} << kSlotBits) - 1;
constexpr std::uintptr_t kSlotCount = kFirstSegmentSlots * ((1u << kSegmentCount) - 1);
static_assert(kSlotCount <= kSlotMask + 1, "every slot must be named by a handle");
static_assert(sizeof(std::uintptr_t) >= 8, "the number in a handle must not run out");

Slot firstSegment[kFirstSegmentSlots];
std::atomic<Slot*> segments[kSegmentCount] = {firstSegment};

// Opening and closing take the lock; enumerating does not.
std::mutex slotLock;
std::uintptr_t slotsMade = 0;
Slot* freeSlots = nullptr;
std::uintptr_t searchesOpened = 0;  // numbers the handles: only grows

// Where slot index lives: segment s starts at kFirstSegmentSlots * (2^s - 1).
unsigned SegmentOf(std::uintptr_t index) {
  return static_cast<unsigned>(std::bit_width(index / kFirstSegmentSlots + 1)) - 1;
}
std::uintptr_t SegmentStart(unsigned segment) {
  return kFirstSegmentSlots * ((std::uintptr_t{1} << segment) - 1);
}

// A fresh slot; null when memory is short or every slot is taken.
Slot* TakeSlot() {
  if (freeSlots != nullptr) return std::exchange(freeSlots, freeSlots->nextFree);
  if (slotsMade == kSlotCount) return nullptr;
  const std::uintptr_t index = slotsMade;
  const unsigned segment = SegmentOf(index);
  Slot* slots = segments[segment].load(std::memory_order_relaxed);
  if (slots == nullptr) {
    slots = new (std::nothrow) Slot[kFirstSegmentSlots << segment]();
    if (slots == nullptr) return nullptr;
    segments[segment].store(slots, std::memory_order_release);
  }
  ++slotsMade;
  Slot* slot = &slots[index - SegmentStart(segment)];
  slot->index = index;
  return slot;
}

// The slot of the search open under handle, or null.
Slot* FindSlot(HANDLE handle) {
  const auto value = reinterpret_cast<std::uintptr_t>(handle);
  const std::uintptr_t index = value & kSlotMask;
  const unsigned segment = SegmentOf(index);
  if (value == 0 || segment >= kSegmentCount) return nullptr;
  Slot* slots = segments[segment].load(std::memory_order_acquire);
  if (slots == nullptr) return nullptr;
  Slot& slot = slots[index - SegmentStart(segment)];
  if (slot.handle.load(std::memory_order_acquire) != value) return nullptr;
  return &slot;
}

// Opens a search of directoryFd for names that match pattern, under a new
// handle, and takes the descriptor over. INVALID_HANDLE_VALUE, with the
// descriptor closed, when memory is short.
HANDLE OpenSearch(int directoryFd, const char* pattern, std::size_t patternLength) {
  std::unique_lock<std::mutex> guard(slotLock);
  Slot* slot = TakeSlot();
  if (slot != nullptr && slot->search == nullptr) {
    // Cleared once: a name copy may read past the end of a listing.
    slot->search = new (std::nothrow) Search();
    if (slot->search == nullptr) {
      slot->nextFree = std::exchange(freeSlots, slot);
      slot = nullptr;
    }
  }
  if (slot == nullptr) {
    guard.unlock();
    ::close(directoryFd);
    return INVALID_HANDLE_VALUE;
  }
  Search& search = *slot->search;
  search.directoryFd = directoryFd;
  search.everyName = MatchesEveryName(pattern, patternLength);
  search.patternLength = patternLength;
  std::memcpy(search.pattern, pattern, patternLength + 1);
  search.batchLength = 0;
  search.batchOffset = 0;
  search.heldDots = 0;
  // Never 0 and, with the number below 2^44, never INVALID_HANDLE_VALUE.
  const std::uintptr_t handle = (++searchesOpened << kSlotBits) | slot->index;
  slot->handle.store(handle, std::memory_order_release);
  return reinterpret_cast<HANDLE>(handle);
}

void CloseDirectory(Search& search) {
  if (search.directoryFd >= 0) ::close(search.directoryFd);
  search.directoryFd = -1;
}

// Closes the search open under handle; false when there is none.
bool CloseSearch(HANDLE handle) {
  int directoryFd = -1;
  {
    const std::lock_guard<std::mutex> guard(slotLock);
    Slot* slot = FindSlot(handle);
    if (slot == nullptr) return false;
    slot->handle.store(0, std::memory_order_release);
    slot->nextFree = std::exchange(freeSlots, slot);
    directoryFd = std::exchange(slot->search->directoryFd, -1);
  }
  if (directoryFd >= 0) ::close(directoryFd);
  return true;
}

// 100-nanosecond ticks since 1601, the platform's time; earlier times are 0,
// times too late for 64 bits the largest.
FILETIME ToFileTime(const struct statx_timestamp& time) {
  constexpr std::int64_t kSecondsFrom1601To1970 = 11644473600;
  constexpr std::uint64_t kTicksPerSecond = 10000000;
  constexpr std::uint64_t kLastSecond = (UINT64_MAX - kTicksPerSecond) / kTicksPerSecond;
  // In unsigned arithmetic: no second count can overflow it.
  const std::uint64_t seconds = static_cast<std::uint64_t>(time.tv_sec) + kSecondsFrom1601To1970;
  const std::uint64_t ticks = time.tv_sec < -kSecondsFrom1601To1970 ? 0
                              : seconds > kLastSecond
                                  ? UINT64_MAX
                                  : seconds * kTicksPerSecond + time.tv_nsec / 100;
  return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

bool IsDotOrDotDot(const char* name) {
  return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

bool HasAttribute(const struct statx& status, std::uint64_t attribute) {
  return (status.stx_attributes_mask & attribute) != 0 && (status.stx_attributes & attribute) != 0;
}

// Fills record with "." while it is held, else with ".."; both are always
// directories, and nothing reads their other attributes, so they need no statx.
void HandOutHeldDot(Search& search, WIN32_FIND_DATAA& record) {
  const bool dot = (search.heldDots & kHeldDot) != 0;
  search.heldDots &= dot ? ~kHeldDot : ~kHeldDotDot;
  std::memcpy(record.cFileName, dot ? "." : "..", dot ? 2 : 3);
  record.dwReserved1 = 0;
  record.cAlternateFileName[0] = '\0';
  record.dwFileAttributes = FILE_ATTRIBUTE_DIRECTORY;
  record.ftCreationTime = record.ftLastAccessTime = record.ftLastWriteTime = FILETIME{0, 0};
  record.nFileSizeHigh = record.nFileSizeLow = 0;
  record.dwReserved0 = 0;
}

// Describes the entry called name from its status; a link costs a second
// statx, to learn whether it leads to a directory.
void DescribeEntry(int directoryFd, const char* name, const struct statx& status,
                   WIN32_FIND_DATAA& record) {
  DWORD attributes = 0;
  DWORD reparseTag = 0;
  const bool directory = S_ISDIR(status.stx_mode);
  if (directory) attributes |= FILE_ATTRIBUTE_DIRECTORY;
  if (HasAttribute(status, STATX_ATTR_COMPRESSED)) attributes |= FILE_ATTRIBUTE_COMPRESSED;
  if (HasAttribute(status, STATX_ATTR_ENCRYPTED)) attributes |= FILE_ATTRIBUTE_ENCRYPTED;
  if (S_ISLNK(status.stx_mode)) {
    // As the platform reports a directory link: a reparse point with the directory bit.
    attributes |= FILE_ATTRIBUTE_REPARSE_POINT;
    reparseTag = IO_REPARSE_TAG_SYMLINK;
    struct statx target;
    if (system_calls::Statx(directoryFd, name, kStatxLookFlags, STATX_TYPE, &target) == 0 &&
        S_ISDIR(target.stx_mode)) {
      attributes |= FILE_ATTRIBUTE_DIRECTORY;
    }
  } else if (HasAttribute(status, STATX_ATTR_MOUNT_ROOT)) {
    attributes |= FILE_ATTRIBUTE_REPARSE_POINT;
    reparseTag = IO_REPARSE_TAG_MOUNT_POINT;
  }
  record.dwFileAttributes = attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL;
  record.dwReserved0 = reparseTag;

  // The platform gives directories no size.
  const std::uint64_t size = directory ? 0 : status.stx_size;
  record.nFileSizeHigh = static_cast<DWORD>(size >> 32);
  record.nFileSizeLow = static_cast<DWORD>(size);
  record.ftLastWriteTime = ToFileTime(status.stx_mtime);
  record.ftLastAccessTime = ToFileTime(status.stx_atime);
  // Without a birth time, the older of the two others is the closest answer.
  const struct statx_timestamp& changed = status.stx_ctime;
  const struct statx_timestamp& modified = status.stx_mtime;
  const bool changedFirst =
      changed.tv_sec < modified.tv_sec ||
      (changed.tv_sec == modified.tv_sec && changed.tv_nsec < modified.tv_nsec);
  record.ftCreationTime = ToFileTime((status.stx_mask & STATX_BTIME) != 0 ? status.stx_btime
                                     : changedFirst                       ? changed
                                                                          : modified);
}

// Opens the directory named by the first length characters of path for
// listing. The kernel takes at most PATH_MAX characters in one path, and a
// tree may well run deeper: a longer path is opened one piece at a time, each
// piece relative to the one before. Answers -1 with errno set on failure.
int OpenDirectory(const char* path, std::size_t length) {
  constexpr int kListFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
  char piece[PATH_MAX];
  int base = AT_FDCWD;
  std::size_t start = 0;
  for (;;) {
    const std::size_t rest = length - start;
    std::size_t cut = rest;
    if (rest >= sizeof piece) {
      // The last separator that keeps this piece short enough.
      cut = sizeof piece - 1;
      while (cut > 0 && path[start + cut] != '/') --cut;
      if (cut == 0) {  // one name longer than any file system allows
        if (base != AT_FDCWD) ::close(base);
        errno = ENAMETOOLONG;
        return -1;
      }
    }
    if (rest == 0) {  // the path ended in separators: the directory itself
      piece[0] = '.';
      cut = 1;
    } else {
      std::memcpy(piece, path + start, cut);
    }
    piece[cut] = '\0';
    const bool last = cut >= rest;
    const int fd =
        system_calls::OpenAt(base, piece, last ? kListFlags : O_PATH | O_DIRECTORY | O_CLOEXEC);
    const int openError = errno;
    if (base != AT_FDCWD) ::close(base);
    if (fd < 0 || last) {
      errno = openError;
      return fd;
    }
    base = fd;
    // Repeated separators must not make the next piece an absolute path.
    start += cut + 1;
    while (start < length && path[start] == '/') ++start;
  }
}

// Fills record with the next entry that matches and can be described. At the
// end, or when the listing cannot be read further, answers false with the
// reason in error.
bool NextEntry(Search& search, WIN32_FIND_DATAA& record, DWORD& error) {
  for (;;) {
    if (search.batchOffset >= search.batchLength) {
      if (search.directoryFd < 0) {
        if (search.heldDots != 0) {
          HandOutHeldDot(search, record);
          return true;
        }
        error = ERROR_NO_MORE_FILES;
        return false;
      }
      const ssize_t length = system_calls::GetDents64(search.directoryFd, search.batch, kBatchSize);
      if (length <= 0) {
        error = length == 0 ? ERROR_NO_MORE_FILES : ErrorFromErrno(errno, ERROR_PATH_NOT_FOUND);
        CloseDirectory(search);     // nothing more will come from it
        if (length == 0) continue;  // the held dots, then the end
        search.heldDots = 0;
        return false;
      }
      search.batchLength = static_cast<std::size_t>(length);
      search.batchOffset = 0;
    }

    const auto* entry = reinterpret_cast<const struct dirent64*>(search.batch + search.batchOffset);
    search.batchOffset += entry->d_reclen;
    // A name the record cannot hold whole is left out rather than cut. Only
    // an entry with room for more than that needs measuring.
    const std::size_t nameRoom = entry->d_reclen - offsetof(struct dirent64, d_name);
    if (nameRoom > kMaxNameLength + 1 && ::strnlen(entry->d_name, nameRoom) > kMaxNameLength) {
      continue;
    }
    if (!search.everyName &&
        !MatchesWildcard(search.pattern, search.patternLength, entry->d_name)) {
      continue;
    }

    if (IsDotOrDotDot(entry->d_name)) {
      search.heldDots |= entry->d_name[1] == '\0' ? kHeldDot : kHeldDotDot;
      continue;
    }
    // One copy of fixed length, the longest name and its terminator: cheaper
    // than measuring the name first. What follows the terminator is never read.
    std::memcpy(record.cFileName, entry->d_name, kMaxNameLength + 1);
    record.dwReserved1 = 0;
    record.cAlternateFileName[0] = '\0';
    // Called from here, not from a helper (the wrapper is inlined): the fewer
    // frames a system call returns through, the cheaper the return.
    struct statx status;
    if (system_calls::Statx(search.directoryFd, entry->d_name,
                            AT_SYMLINK_NOFOLLOW | kStatxLookFlags, kStatxMask, &status) == 0) {
      DescribeEntry(search.directoryFd, entry->d_name, status, record);
      return true;
    }
    // Search permission belongs to the directory, not to the entry: the first
    // entry refused for it refuses the whole directory (the rest would be
    // refused alike), instead of leaving each of them out without a word.
    // Leaving one out for want of memory would miscount the directory too:
    // the listing ends there, as a failed read ends it.
    if (errno == EACCES || errno == ENOMEM) {
      error = errno == EACCES ? ERROR_ACCESS_DENIED : ERROR_NOT_ENOUGH_MEMORY;
      CloseDirectory(search);
      search.batchOffset = search.batchLength;
      search.heldDots = 0;
      return false;
    }
    // It vanished since the listing (a race, not an error), or statx failed
    // otherwise: reporting it anyway would show an unknown entry as an
    // ordinary uncompressed file.
  }
}

}  // namespace

HANDLE FindFirstFileA(LPCSTR fileName, LPWIN32_FIND_DATAA findData) {
  if (fileName == nullptr || findData == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }

  // directory '/' pattern; no directory part means the current directory,
  // an empty one the root.
  const char* separator = std::strrchr(fileName, '/');
  const char* pattern = separator != nullptr ? separator + 1 : fileName;
  const std::size_t patternLength = std::strlen(pattern);
  if (patternLength == 0) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  if (patternLength > kMaxNameLength) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return INVALID_HANDLE_VALUE;
  }
  int directoryFd = -1;
  if (separator == nullptr) {
    directoryFd = OpenDirectory(".", 1);
  } else if (separator == fileName) {
    directoryFd = OpenDirectory("/", 1);
  } else {
    directoryFd = OpenDirectory(fileName, static_cast<std::size_t>(separator - fileName));
  }
  if (directoryFd < 0) {
    // Asked to list a file, Windows answers ERROR_DIRECTORY.
    SetLastError(errno == ENOTDIR ? ERROR_DIRECTORY : ErrorFromErrno(errno, ERROR_PATH_NOT_FOUND));
    return INVALID_HANDLE_VALUE;
  }
  const HANDLE handle = OpenSearch(directoryFd, pattern, patternLength);
  if (handle == INVALID_HANDLE_VALUE) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return INVALID_HANDLE_VALUE;
  }
  // The first entry comes the way every other does, so that one routine reads them all.
  if (!FindNextFileA(handle, findData)) {
    const DWORD error = GetLastError();
    CloseSearch(handle);
    SetLastError(error == ERROR_NO_MORE_FILES ? ERROR_FILE_NOT_FOUND : error);
    return INVALID_HANDLE_VALUE;
  }
  return handle;
}

BOOL FindNextFileA(HANDLE findFile, LPWIN32_FIND_DATAA findData) {
  const Slot* slot = FindSlot(findFile);
  if (slot == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (findData == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  DWORD error = 0;
  if (NextEntry(*slot->search, *findData, error)) return TRUE;
  SetLastError(error);
  return FALSE;
}

BOOL FindClose(HANDLE findFile) {
  if (CloseSearch(findFile)) return TRUE;
  SetLastError(ERROR_INVALID_HANDLE);
  return FALSE;
}
