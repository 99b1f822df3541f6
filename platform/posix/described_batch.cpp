#include "platform/posix/described_batch.h"

#include <new>

namespace read_ahead {

static_assert(sizeof(DescribedBatch) % alignof(DescribedEntry) == 0,
              "entries must follow the header aligned");

DescribedBatch* MakeBatch(const char* raw, std::size_t length, const NameFilter& filter) {
  std::uint32_t count = 0;
  std::size_t nameBytes = 0;
  BatchEntries measured(raw, length);
  while (const struct dirent64* entry = measured.Next()) {
    if (!filter.Takes(*entry)) continue;
    ++count;
    nameBytes += std::strlen(entry->d_name) + 1;
  }
  const std::size_t bytes = sizeof(DescribedBatch) + count * sizeof(DescribedEntry) + nameBytes;
  void* memory = ::operator new(bytes, std::nothrow);
  if (memory == nullptr) return nullptr;
  auto* batch = new (memory) DescribedBatch{nullptr, bytes, count, count};
  DescribedEntry* entries = batch->Entries();
  char* names = batch->Names();
  std::size_t nameOffset = 0;
  std::uint32_t index = 0;
  BatchEntries copied(raw, length);
  while (const struct dirent64* entry = copied.Next()) {
    if (!filter.Takes(*entry)) continue;
    const std::size_t nameLength = std::strlen(entry->d_name);
    DescribedEntry& described = entries[index++];
    described.nameOffset = static_cast<std::uint32_t>(nameOffset);
    described.nameLength = static_cast<std::uint16_t>(nameLength);
    described.type = entry->d_type;
    described.mountRoot = false;
    described.reserved = 0;
    described.refusal = 0;
    described.device = 0;
    described.inode = 0;
    described.look = Look::kLeftOut;
    described.stored = Stored::kNotAsked;
    std::memcpy(names + nameOffset, entry->d_name, nameLength + 1);
    nameOffset += nameLength + 1;
  }
  return batch;
}

std::int64_t ChangeTime(const struct statx& status) {
  return status.stx_ctime.tv_sec * std::int64_t{1000000000} + status.stx_ctime.tv_nsec;
}

void DescribeEntries(DescribedBatch& batch, int fd, bool asks, std::uint32_t begin,
                     std::uint32_t end) {
  DescribedEntry* entries = batch.Entries();
  for (std::uint32_t i = begin; i < end; ++i) {
    DescribedEntry& entry = entries[i];
    const char* name = batch.NameOf(entry);
    if (IsDotOrDotDot(name)) {
      entry.attributes = FILE_ATTRIBUTE_DIRECTORY;
      entry.reserved = 0;
      entry.look = Look::kDescribed;
      continue;
    }
    WIN32_FIND_DATAA record;
    struct statx status;
    entry.look = LookAt(fd, name, entry.type, record, status, entry.refusal);
    if (entry.look != Look::kDescribed) continue;
    if (asks) entry.stored = AskAbout(fd, name, status, record);
    const ListedDirectory listed = ListedFrom(record, status);
    entry.device = listed.device;
    entry.inode = listed.inode;
    entry.mountRoot = listed.mountRoot;
    entry.changed = listed.inode != 0 ? ChangeTime(status) : 0;
    entry.reserved = record.dwReserved1;
    entry.attributes = record.dwFileAttributes;
    entry.reparseTag = record.dwReserved0;
    entry.size = (std::uint64_t{record.nFileSizeHigh} << 32) | record.nFileSizeLow;
    entry.creation = record.ftCreationTime;
    entry.access = record.ftLastAccessTime;
    entry.write = record.ftLastWriteTime;
  }
}

bool AnyShort(const DescribedBatch& batch) {
  const DescribedEntry* entries = batch.Entries();
  for (std::uint32_t i = 0; i < batch.count; ++i) {
    if (entries[i].stored == Stored::kShort) return true;
  }
  return false;
}

DWORD CutAtRefusal(DescribedBatch& batch) {
  const DescribedEntry* entries = batch.Entries();
  for (std::uint32_t i = 0; i < batch.count; ++i) {
    if (entries[i].look == Look::kEndsListing) {
      batch.count = i;
      return entries[i].refusal;
    }
  }
  return 0;
}

void FillRecord(const DescribedEntry& entry, const char* name, WIN32_FIND_DATAA& record) {
  record.dwFileAttributes = entry.attributes;
  record.dwReserved0 = entry.reparseTag;
  record.nFileSizeHigh = static_cast<DWORD>(entry.size >> 32);
  record.nFileSizeLow = static_cast<DWORD>(entry.size);
  record.ftCreationTime = entry.creation;
  record.ftLastAccessTime = entry.access;
  record.ftLastWriteTime = entry.write;
  std::memcpy(record.cFileName, name, entry.nameLength + 1u);
  record.dwReserved1 = entry.reserved;
  record.cAlternateFileName[0] = '\0';
}

void FreeBatches(DescribedBatch* first) {
  while (first != nullptr) {
    DescribedBatch* next = first->next;
    ::operator delete(first);
    first = next;
  }
}

}  // namespace read_ahead
