#include "platform/posix/batch_reader.h"

#include "platform/posix/error_from_errno.h"

void NameFilter::Set(const char* newPattern, std::size_t length) {
  everyName = MatchesEveryName(newPattern, length);
  patternLength = length;
  std::memcpy(pattern, newPattern, length);
  pattern[length] = '\0';
}

void HeldDots::HandOut(WIN32_FIND_DATAA& record) {
  const bool dot = (held & kDot) != 0;
  held &= dot ? ~kDot : ~kDotDot;
  std::memcpy(record.cFileName, dot ? "." : "..", dot ? 2 : 3);
  record.dwReserved1 = 0;
  record.cAlternateFileName[0] = '\0';
  record.dwFileAttributes = FILE_ATTRIBUTE_DIRECTORY;
  record.ftCreationTime = record.ftLastAccessTime = record.ftLastWriteTime = FILETIME{0, 0};
  record.nFileSizeHigh = record.nFileSizeLow = 0;
  record.dwReserved0 = 0;
}

ssize_t ReadBatch(int fd, char* batch, ListedDirectory& unchecked) {
  const ssize_t length = system_calls::GetDents64(fd, batch, kBatchSize);
  if (length < 0 || unchecked.inode == 0) return length;
  if (!FirstBatchIsOf(unchecked, fd, batch, static_cast<std::size_t>(length))) return -1;
  unchecked = ListedDirectory();
  return length;
}

DWORD ErrorFromReading(int error) {
  return ChangedSinceListing(error) ? ERROR_FILE_INVALID
                                    : ErrorFromErrno(error, ERROR_PATH_NOT_FOUND);
}

std::int64_t OffsetAfter(const char* batch, std::size_t length) {
  BatchEntries entries(batch, length);
  const struct dirent64* last = nullptr;
  while (const struct dirent64* entry = entries.Next()) last = entry;
  return last != nullptr ? last->d_off : 0;
}
