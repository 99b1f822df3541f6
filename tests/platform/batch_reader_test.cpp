// The batch reader over a real directory, and over calls that fail through
// the system-call seam: which entries a search takes, and how a failure of
// each call ends or spares the listing.
#include "platform/posix/batch_reader.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <set>
#include <string>
#include <vector>

#include "platform/port.h"
#include "tests/support/posix/system_call_faults.h"
#include "tests/support/temp_tree.h"

namespace {

// What one search of a directory came to, read as the walk on one thread reads it.
struct Listing {
  std::set<std::string> names;       // described, dots included
  std::set<std::string> unreadable;  // "name:error", "name:error/" for a directory
  DWORD end = 0;                     // the error the listing ended with; 0 at its end
};

class BatchReaderTest : public ::testing::Test {
 protected:
  BatchReaderTest() {
    for (const char* name : {"a.txt", "b.txt", "c.log"}) tree.AddFile(name);
    tree.AddDirectory("sub");
    fd = ::open(tree.Root().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  }
  ~BatchReaderTest() override { ::close(fd); }

  Listing Read(const char* pattern, ListedDirectory unchecked = ListedDirectory()) {
    Listing listing;
    NameFilter filter;
    filter.Set(pattern, std::strlen(pattern));
    HeldDots dots;
    ::lseek(fd, 0, SEEK_SET);
    for (;;) {
      const ssize_t length = ReadBatch(fd, batch, unchecked);
      if (length <= 0) {
        listing.end = length == 0 ? 0 : ErrorFromReading(errno);
        break;
      }
      BatchEntries entries(batch, static_cast<std::size_t>(length));
      while (const struct dirent64* entry = entries.Next()) {
        if (!filter.Takes(*entry) || dots.Hold(entry->d_name)) continue;
        WIN32_FIND_DATAA record;
        struct statx status;
        DWORD refusal = 0;
        const Look look = LookAt(fd, entry->d_name, entry->d_type, record, status, refusal);
        if (look == Look::kEndsListing) {
          listing.end = refusal;
          return listing;
        }
        if (look != Look::kDescribed) continue;
        listing.names.insert(entry->d_name);
        if (const DWORD unreadable = AttributesUnreadable(record)) {
          listing.unreadable.insert(
              std::string(entry->d_name) + ":" + std::to_string(unreadable) +
              (record.dwFileAttributes == FILE_ATTRIBUTE_DIRECTORY ? "/" : ""));
        }
      }
    }
    while (listing.end == 0 && dots.Any()) {
      WIN32_FIND_DATAA record;
      dots.HandOut(record);
      listing.names.insert(record.cFileName);
    }
    return listing;
  }

  TempTree tree;
  int fd = -1;
  alignas(struct dirent64) char batch[kBatchSize];
};

TEST_F(BatchReaderTest, TakesWhatThePatternTakesAndHandsTheDotsOutLast) {
  const struct {
    const char* pattern;
    std::set<std::string> names;
  } rows[] = {
      {"*", {".", "..", "a.txt", "b.txt", "c.log", "sub"}},
      {"*.txt", {"a.txt", "b.txt"}},
      {"?.LOG", {"c.log"}},
      {".*", {".", ".."}},
  };
  for (const auto& row : rows) {
    const Listing listing = Read(row.pattern);
    EXPECT_EQ(listing.names, row.names) << row.pattern;
    EXPECT_EQ(listing.end, 0u) << row.pattern;
  }
}

// statx refused for search permission or memory ends the listing there;
// an entry gone since the listing is only left out; an entry statx refuses
// while the directory lets names be looked up in it is listed as one whose
// attributes could not be read, and the listing goes on; a failed read ends
// the listing with its error, a directory swapped since its parent listed it
// as changed.
TEST_F(BatchReaderTest, EachFailureOfACallEndsOrSparesTheListingAsItShould) {
  using system_calls::Call;
  struct statx own;
  ASSERT_EQ(::statx(fd, "", AT_EMPTY_PATH, STATX_INO, &own), 0);
  const ListedDirectory itself{DeviceOf(own), own.stx_ino};
  const ListedDirectory another{itself.device, own.stx_ino + 1};
  const struct {
    const char* name;
    Call call;
    int error;
    std::uint64_t failing;
    ListedDirectory unchecked;
    std::size_t names;
    std::size_t unreadable;
    DWORD end;
  } rows[] = {
      {"no search permission", Call::kStatx, EACCES, 1000, {}, 0, 0, ERROR_ACCESS_DENIED},
      {"one entry refused", Call::kStatx, EACCES, 1, {}, 6, 1, 0},
      {"one entry unreadable", Call::kStatx, EIO, 1, {}, 6, 1, 0},
      {"no memory for statx", Call::kStatx, ENOMEM, 1000, {}, 0, 0, ERROR_NOT_ENOUGH_MEMORY},
      {"every entry gone", Call::kStatx, ENOENT, 1000, {}, 2, 0, 0},
      {"no memory to read", Call::kGetDents64, ENOMEM, 1000, {}, 0, 0, ERROR_NOT_ENOUGH_MEMORY},
      {"read refused", Call::kGetDents64, EACCES, 1000, {}, 0, 0, ERROR_ACCESS_DENIED},
      {"stale", Call::kGetDents64, ESTALE, 1000, {}, 0, 0, ERROR_FILE_INVALID},
      {"the directory listed", Call::kOpenAt, 0, 0, itself, 6, 0, 0},
      {"another directory", Call::kOpenAt, 0, 0, another, 0, 0, ERROR_FILE_INVALID},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const system_calls::ScopedFailure failure(row.call, 0, row.error, row.failing);
    const Listing listing = Read("*", row.unchecked);
    EXPECT_EQ(listing.names.size(), row.names);
    EXPECT_EQ(listing.unreadable.size(), row.unreadable);
    for (const std::string& entry : listing.unreadable) {
      // A directory's refusal is its listing's; the error is the platform's word for errno.
      const bool directory = entry.back() == '/';
      EXPECT_EQ(directory, entry.rfind("sub:", 0) == 0) << entry;
      EXPECT_NE(entry.find(row.error == EIO ? ":30" : ":5"), std::string::npos) << entry;
    }
    EXPECT_EQ(listing.end, row.end);
  }
}

// A name longer than a record holds is left out, never cut; where the
// listing stands after a batch is the last entry's offset.
TEST(BatchEntriesTest, ANameTooLongForARecordIsLeftOutAndTheOffsetIsTheLastEntrys) {
  alignas(struct dirent64) char raw[2048] = {};
  std::size_t at = 0;
  for (const std::string& name : {std::string("short"), std::string(300, 'n'), std::string("x")}) {
    auto* entry = reinterpret_cast<struct dirent64*>(raw + at);
    const std::size_t length = offsetof(struct dirent64, d_name) + name.size() + 1;
    entry->d_reclen = static_cast<unsigned short>((length + 7) & ~std::size_t{7});
    entry->d_off = static_cast<off64_t>(1000 + at);
    std::memcpy(entry->d_name, name.c_str(), name.size() + 1);
    at += entry->d_reclen;
  }
  NameFilter every;
  every.Set("*", 1);
  std::vector<std::string> taken;
  BatchEntries entries(raw, at);
  const struct dirent64* last = nullptr;
  while (const struct dirent64* entry = entries.Next()) {
    if (every.Takes(*entry)) taken.emplace_back(entry->d_name);
    last = entry;
  }
  EXPECT_EQ(taken, (std::vector<std::string>{"short", "x"}));
  EXPECT_EQ(OffsetAfter(raw, at), last->d_off);
}

}  // namespace
