// One getdents64 batch of a listing, turned into the entries a search takes,
// each described by statx: the same filter for the walk on the caller's
// thread (find_files.cpp), which describes each entry as it hands it out,
// and for the read-ahead (described_batch.h), which describes a batch at a
// time. A search takes the entries whose names fit a record whole and match
// its pattern; it hands "." and ".." out after every other entry, and its
// listing ends before an entry refused for want of search permission or
// memory.
#pragma once

#include <dirent.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "find/entered_directory.h"
#include "platform/port.h"
#include "platform/posix/directory_entries.h"
#include "platform/posix/open_below.h"
#include "platform/posix/stored_compression.h"
#include "platform/posix/system_calls.h"
#include "platform/posix/wildcard.h"
#include "platform/win32.h"

// The names a search asks for: every one, or those its pattern takes.
class NameFilter {
 public:
  // The pattern: length characters, at most kMaxNameLength.
  void Set(const char* pattern, std::size_t length);
  bool IsFor(const char* asked, std::size_t length) const {
    return length == patternLength && std::memcmp(asked, pattern, length) == 0;
  }

  // Whether the search takes entry: a name the record cannot hold whole is
  // left out rather than cut, and only an entry with room for a longer one
  // needs measuring.
  bool Takes(const struct dirent64& entry) const {
    const std::size_t nameRoom = entry.d_reclen - offsetof(struct dirent64, d_name);
    if (nameRoom > kMaxNameLength + 1 && ::strnlen(entry.d_name, nameRoom) > kMaxNameLength) {
      return false;
    }
    return everyName || MatchesWildcard(pattern, patternLength, entry.d_name);
  }

 private:
  bool everyName = true;
  std::size_t patternLength = 0;
  char pattern[kMaxNameLength + 1] = {};
};

// The entries of one batch, in the listing's order.
class BatchEntries {
 public:
  BatchEntries() = default;
  BatchEntries(const char* batch, std::size_t length) : start(batch), end(batch + length) {}
  // Null after the last.
  const struct dirent64* Next() {
    if (start >= end) return nullptr;
    const auto* entry = reinterpret_cast<const struct dirent64*>(start);
    start += entry->d_reclen;
    return entry;
  }

 private:
  const char* start = nullptr;  // of the next entry
  const char* end = nullptr;
};

// "." and ".." met in a listing, handed out after every other entry: the
// first entry a search answers has then been looked at with statx, so that a
// directory whose entries cannot be looked at is refused as a whole.
class HeldDots {
 public:
  // Holds name when it is "." or "..", and answers whether it was.
  bool Hold(const char* name) {
    if (!IsDotOrDotDot(name)) return false;
    held |= name[1] == '\0' ? kDot : kDotDot;
    return true;
  }
  bool Any() const { return held != 0; }
  // A listing cut short by an error ends with it, dots and all.
  void Drop() { held = 0; }
  // Fills record with "." while it is held, else with "..", and lets go of
  // it. Both are directories, and nothing reads their other attributes, so
  // they need no statx.
  void HandOut(WIN32_FIND_DATAA& record);

 private:
  static constexpr unsigned kDot = 1;
  static constexpr unsigned kDotDot = 2;
  unsigned held = 0;
};

// Looks at the entry called name (of the listing's type) of the open
// directory fd with statx and describes it into record (every field but the
// names), status holding what statx said unless the record says its
// attributes could not be read (LookRefused). Inlined into each reader: the
// fewer frames a system call returns through, the cheaper the return.
[[gnu::always_inline]] inline Look LookAt(int fd, const char* name, unsigned char type,
                                          WIN32_FIND_DATAA& record, struct statx& status,
                                          DWORD& refusal) {
  if (system_calls::Statx(fd, name, AT_SYMLINK_NOFOLLOW | kStatxLookFlags, kStatxMask, &status) !=
      0) [[unlikely]] {
    return LookRefused(fd, type, errno, record, refusal);
  }
  // A link that went between its two looks is left out as a vanished entry.
  return DescribeEntry(fd, name, status, record) ? Look::kDescribed : Look::kLeftOut;
}

// What the listing said of a subdirectory record describes, status holding
// what statx said of it: a directory whose attributes could not be read is
// refused with that error when the walk asks for it.
inline ListedDirectory ListedFrom(const WIN32_FIND_DATAA& record, const struct statx& status) {
  if (const DWORD error = AttributesUnreadable(record)) return ListedDirectory{0, 0, error, false};
  // A mount's root described as a plain directory is one the run searches.
  const bool mountRoot =
      (record.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 && IsMountRoot(status);
  return ListedDirectory{DeviceOf(status), status.stx_ino, 0, mountRoot};
}

// Asks how the file record describes is stored, for a directory whose files
// are asked about (AsksHowStored): a file stored compressed is marked so,
// like one that carries the attribute, and one that could not be asked
// about is marked as judged by its attribute alone (kStorageUnknown).
// Answers what asking came to.
inline Stored AskAbout(int fd, const char* name, const struct statx& status,
                       WIN32_FIND_DATAA& record) {
  if ((record.dwFileAttributes & FILE_ATTRIBUTE_COMPRESSED) != 0 || AttributesUnreadable(record)) {
    return Stored::kNotAsked;
  }
  const Stored stored = AskHowStored(fd, name, status);
  if (stored == Stored::kCompressed) {
    record.dwFileAttributes =
        (record.dwFileAttributes & ~FILE_ATTRIBUTE_NORMAL) | FILE_ATTRIBUTE_COMPRESSED;
  } else if (stored == Stored::kUnopened || stored == Stored::kShort) {
    record.dwReserved1 |= kStorageUnknown;
  }
  return stored;
}

// Reads the next batch of the open directory fd into batch (kBatchSize
// bytes). A directory opened on its parent's device has its first batch
// checked against what its parent's listing said of it, in unchecked, which
// is cleared once the check has passed (inode 0: nothing to check). Answers
// the bytes read, 0 at the end of the listing, or -1 with errno set; ESTALE
// when the directory is not the one listed.
ssize_t ReadBatch(int fd, char* batch, ListedDirectory& unchecked);

// The error that ends a listing whose batch could not be read.
DWORD ErrorFromReading(int error);

// Where a listing stands after the batch read into batch (length bytes): the
// offset to read it again from.
std::int64_t OffsetAfter(const char* batch, std::size_t length);
