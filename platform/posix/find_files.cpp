// Directory enumeration of the Win32 interface over getdents64 and statx.
//
// One search is one open directory and one 64 KiB batch of its listing, read
// with getdents64. Per entry the only system call is one statx relative to
// the open directory (a symbolic link costs a second one, to learn whether
// it leads to a directory); the pattern is matched before it, and nothing is
// allocated. "." and ".." are described from the listing alone.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <new>

#include "platform/posix/wildcard.h"
#include "platform/win32.h"

namespace {

constexpr std::size_t kBatchSize = 64 * 1024;
constexpr std::size_t kMaxNameLength = 255;  // the longest name a POSIX file system holds
constexpr DWORD kErrorTooManyOpenFiles = 4;  // the platform's ERROR_TOO_MANY_OPEN_FILES

constexpr unsigned kStatxMask =
    STATX_TYPE | STATX_SIZE | STATX_ATIME | STATX_MTIME | STATX_CTIME | STATX_BTIME;
// Never wait for the file system, never trigger an automount: a search only looks.
constexpr int kStatxLookFlags = AT_NO_AUTOMOUNT | AT_STATX_DONT_SYNC;

struct Search {
  Search* previousLive;  // the open searches, so that a stale handle is refused
  Search* nextLive;
  int directoryFd;  // -1 once the listing is exhausted
  bool everyName;   // the pattern takes every name: no matching needed
  std::size_t patternLength;
  char pattern[kMaxNameLength + 1];
  std::size_t batchLength;
  std::size_t batchOffset;
  alignas(struct dirent64) char batch[kBatchSize];
};

std::mutex liveLock;
Search* liveSearches = nullptr;

void AddLive(Search* search) {
  const std::lock_guard<std::mutex> guard(liveLock);
  search->previousLive = nullptr;
  search->nextLive = liveSearches;
  if (liveSearches != nullptr) liveSearches->previousLive = search;
  liveSearches = search;
}

// The search behind handle, or null when handle is not an open search. The
// newest search comes first, and it is the one a walk is enumerating.
Search* FindLive(HANDLE handle) {
  const std::lock_guard<std::mutex> guard(liveLock);
  for (Search* search = liveSearches; search != nullptr; search = search->nextLive) {
    if (search == handle) return search;
  }
  return nullptr;
}

Search* RemoveLive(HANDLE handle) {
  const std::lock_guard<std::mutex> guard(liveLock);
  for (Search* search = liveSearches; search != nullptr; search = search->nextLive) {
    if (search != handle) continue;
    if (search->previousLive != nullptr) {
      search->previousLive->nextLive = search->nextLive;
    } else {
      liveSearches = search->nextLive;
    }
    if (search->nextLive != nullptr) search->nextLive->previousLive = search->previousLive;
    return search;
  }
  return nullptr;
}

DWORD ErrorFromErrno(int error) {
  switch (error) {
    case EACCES:
    case EPERM:
      return ERROR_ACCESS_DENIED;
    case ENAMETOOLONG:
      return ERROR_FILENAME_EXCED_RANGE;
    case ENOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    case EMFILE:
    case ENFILE:
      return kErrorTooManyOpenFiles;
    default:  // ENOENT, ENOTDIR, ELOOP and the rest: the directory is not there to search
      return ERROR_PATH_NOT_FOUND;
  }
}

void CloseDirectory(Search& search) {
  if (search.directoryFd >= 0) ::close(search.directoryFd);
  search.directoryFd = -1;
}

// 100-nanosecond ticks since 1601, the platform's time; earlier times are 0.
FILETIME ToFileTime(const struct statx_timestamp& time) {
  constexpr std::int64_t kSecondsFrom1601To1970 = 11644473600;
  constexpr std::uint64_t kTicksPerSecond = 10000000;
  FILETIME result = {0, 0};
  if (time.tv_sec < -kSecondsFrom1601To1970) return result;
  const std::uint64_t seconds = static_cast<std::uint64_t>(time.tv_sec + kSecondsFrom1601To1970);
  std::uint64_t ticks = UINT64_MAX;
  if (seconds <= (UINT64_MAX - kTicksPerSecond) / kTicksPerSecond) {
    ticks = seconds * kTicksPerSecond + time.tv_nsec / 100;
  }
  result.dwLowDateTime = static_cast<DWORD>(ticks);
  result.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  return result;
}

bool IsDotOrDotDot(const char* name) {
  return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

bool HasAttribute(const struct statx& status, std::uint64_t attribute) {
  return (status.stx_attributes_mask & attribute) != 0 && (status.stx_attributes & attribute) != 0;
}

// Describes one listed entry in record, its name already there. False when
// its attributes cannot be read: it vanished, its directory can be listed but
// not searched, or statx failed otherwise. Reporting it anyway would show an
// unknown entry as an ordinary uncompressed file.
bool DescribeEntry(int directoryFd, const struct dirent64& entry, WIN32_FIND_DATAA& record) {
  if (IsDotOrDotDot(entry.d_name)) {
    // Always directories; nothing reads their other attributes.
    const bool directory = entry.d_type == DT_DIR || entry.d_type == DT_UNKNOWN;
    record.dwFileAttributes = directory ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
    return true;
  }

  struct statx status;
  if (::statx(directoryFd, entry.d_name, AT_SYMLINK_NOFOLLOW | kStatxLookFlags, kStatxMask,
              &status) != 0) {
    return false;
  }

  DWORD attributes = 0;
  const bool directory = S_ISDIR(status.stx_mode);
  if (directory) attributes |= FILE_ATTRIBUTE_DIRECTORY;
  if (HasAttribute(status, STATX_ATTR_COMPRESSED)) attributes |= FILE_ATTRIBUTE_COMPRESSED;
  if (HasAttribute(status, STATX_ATTR_ENCRYPTED)) attributes |= FILE_ATTRIBUTE_ENCRYPTED;
  if (S_ISLNK(status.stx_mode)) {
    // As the platform reports a directory link: a reparse point with the directory bit.
    attributes |= FILE_ATTRIBUTE_REPARSE_POINT;
    record.dwReserved0 = IO_REPARSE_TAG_SYMLINK;
    struct statx target;
    if (::statx(directoryFd, entry.d_name, kStatxLookFlags, STATX_TYPE, &target) == 0 &&
        S_ISDIR(target.stx_mode)) {
      attributes |= FILE_ATTRIBUTE_DIRECTORY;
    }
  } else if (HasAttribute(status, STATX_ATTR_MOUNT_ROOT)) {
    attributes |= FILE_ATTRIBUTE_REPARSE_POINT;
    record.dwReserved0 = IO_REPARSE_TAG_MOUNT_POINT;
  }
  record.dwFileAttributes = attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL;

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
  return true;
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
    const int fd = ::openat(base, piece, last ? kListFlags : O_PATH | O_DIRECTORY | O_CLOEXEC);
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
        error = ERROR_NO_MORE_FILES;
        return false;
      }
      const ssize_t length = ::getdents64(search.directoryFd, search.batch, sizeof search.batch);
      if (length <= 0) {
        error = length == 0 ? ERROR_NO_MORE_FILES : ErrorFromErrno(errno);
        CloseDirectory(search);  // nothing more will come from it
        return false;
      }
      search.batchLength = static_cast<std::size_t>(length);
      search.batchOffset = 0;
    }

    const auto* entry = reinterpret_cast<const struct dirent64*>(search.batch + search.batchOffset);
    search.batchOffset += entry->d_reclen;
    const std::size_t nameRoom = entry->d_reclen - offsetof(struct dirent64, d_name);
    const std::size_t nameLength = ::strnlen(entry->d_name, nameRoom);
    // A name the record cannot hold whole is left out rather than cut.
    if (nameLength > kMaxNameLength) continue;
    if (!search.everyName &&
        !MatchesWildcard(search.pattern, search.patternLength, entry->d_name)) {
      continue;
    }

    record = WIN32_FIND_DATAA{};
    std::memcpy(record.cFileName, entry->d_name, nameLength + 1);
    if (DescribeEntry(search.directoryFd, *entry, record)) return true;
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
    SetLastError(ErrorFromErrno(errno));
    return INVALID_HANDLE_VALUE;
  }
  auto* search = new (std::nothrow) Search;
  if (search == nullptr) {
    ::close(directoryFd);
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return INVALID_HANDLE_VALUE;
  }
  search->directoryFd = directoryFd;
  search->everyName = MatchesEveryName(pattern, patternLength);
  search->patternLength = patternLength;
  std::memcpy(search->pattern, pattern, patternLength + 1);
  search->batchLength = 0;
  search->batchOffset = 0;

  DWORD error = 0;
  if (!NextEntry(*search, *findData, error)) {
    CloseDirectory(*search);
    delete search;
    SetLastError(error == ERROR_NO_MORE_FILES ? ERROR_FILE_NOT_FOUND : error);
    return INVALID_HANDLE_VALUE;
  }
  AddLive(search);
  return search;
}

BOOL FindNextFileA(HANDLE findFile, LPWIN32_FIND_DATAA findData) {
  Search* search = FindLive(findFile);
  if (search == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (findData == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  DWORD error = 0;
  if (NextEntry(*search, *findData, error)) return TRUE;
  SetLastError(error);
  return FALSE;
}

BOOL FindClose(HANDLE findFile) {
  Search* search = RemoveLive(findFile);
  if (search == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  CloseDirectory(*search);
  delete search;
  return TRUE;
}
