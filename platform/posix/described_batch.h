// A batch read ahead of the walk: the entries of one getdents64 batch that
// its search takes (batch_reader.h), each described, held with their names
// in one allocation until the walk hands them out.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/posix/batch_reader.h"
#include "platform/win32.h"

namespace read_ahead {

struct DescribedEntry {
  std::uint64_t size;
  FILETIME creation;
  FILETIME access;
  FILETIME write;
  DWORD attributes;
  DWORD reparseTag;
  DWORD reserved;  // what could not be learnt of it (platform/port.h), as the record carries it
  DWORD refusal;   // with Look::kEndsListing: the error the listing ends with before it
  std::uint64_t device;
  std::uint64_t inode;
  std::int64_t changed;  // the status change time, in nanoseconds
  std::uint32_t nameOffset;
  std::uint16_t nameLength;
  unsigned char type;  // as the listing gave it (d_type)
  bool mountRoot;      // a mount's root the run searches (ListedDirectory)
  Look look;           // kLeftOut until described
  Stored stored;
};

// This header, then room entries, then their names, each with its terminator.
struct DescribedBatch {
  DescribedBatch* next;
  std::size_t bytes;    // of the whole allocation
  std::uint32_t room;   // entries the allocation holds, before the names
  std::uint32_t count;  // entries handed out: fewer when the listing ended inside the batch

  DescribedEntry* Entries() { return reinterpret_cast<DescribedEntry*>(this + 1); }
  const DescribedEntry* Entries() const {
    return reinterpret_cast<const DescribedEntry*>(this + 1);
  }
  char* Names() { return reinterpret_cast<char*>(Entries() + room); }
  const char* NameOf(const DescribedEntry& entry) const {
    return reinterpret_cast<const char*>(Entries() + room) + entry.nameOffset;
  }
};

// The entries of the batch read into raw (length bytes) that filter takes,
// named, not yet described, in one allocation measured first; null when
// memory is short.
DescribedBatch* MakeBatch(const char* raw, std::size_t length, const NameFilter& filter);

// Describes entries [begin, end) of batch, entries of the open directory fd,
// asking how each file is stored when asks. "." and ".." are directories,
// held by the search and handed out last.
void DescribeEntries(DescribedBatch& batch, int fd, bool asks, std::uint32_t begin,
                     std::uint32_t end);

// Whether a file of batch could not be asked how it is stored for want of a
// descriptor or memory: a worker leaves such a batch to the walk.
bool AnyShort(const DescribedBatch& batch);

// Ends the batch before its first entry whose refusal ends the listing, and
// answers that error; 0 when there is none.
DWORD CutAtRefusal(DescribedBatch& batch);

// The status change time, in nanoseconds.
std::int64_t ChangeTime(const struct statx& status);

// Fills record with entry, called name.
void FillRecord(const DescribedEntry& entry, const char* name, WIN32_FIND_DATAA& record);

// Frees a chain of batches linked by next.
void FreeBatches(DescribedBatch* first);

}  // namespace read_ahead
