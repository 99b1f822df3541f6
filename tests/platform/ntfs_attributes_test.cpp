// Where statx cannot say whether a file is compressed, the walk asks NTFS:
// a FUSE file system that keeps no NTFS attributes is asked once, whatever
// the threads; on ntfs-3g, a file whose attributes cannot be read is listed
// as such and the listing goes on. Needs root and FUSE (bindfs, ntfs-3g);
// skipped with the reason otherwise.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <map>
#include <string>

#include "find/compressed_file_finder.h"
#include "find/search_tally.h"
#include "platform/port.h"
#include "platform/win32.h"
#include "tests/support/posix/loop_file_system.h"
#include "tests/support/posix/settle.h"
#include "tests/support/posix/system_call_faults.h"
#include "tests/support/temp_tree.h"

namespace fs = std::filesystem;

namespace {

// The records of one directory's listing, by name.
std::map<std::string, WIN32_FIND_DATAA> Records(const fs::path& directory) {
  std::map<std::string, WIN32_FIND_DATAA> records;
  WIN32_FIND_DATAA record;
  const HANDLE handle = FindFirstFileA((directory / "*").c_str(), &record);
  if (handle == INVALID_HANDLE_VALUE) return records;
  do {
    records[record.cFileName] = record;
  } while (FindNextFileA(handle, &record));
  FindClose(handle);
  return records;
}

TEST(NtfsAttributesTest, AFileSystemThatKeepsNoNtfsAttributesIsAskedOnce) {
  if (!Succeeds("command -v bindfs")) GTEST_SKIP() << "bindfs is not installed";
  TempTree folder;
  for (int i = 0; i < 40; ++i) {
    folder.AddFile("under/d" + std::to_string(i % 4) + "/f" + std::to_string(i));
  }
  folder.AddDirectory("over");
  if (!Succeeds("bindfs '" + (folder / "under").string() + "' '" + (folder / "over").string() +
                "'")) {
    GTEST_SKIP() << "bindfs cannot mount here (needs FUSE)";
  }
  struct Unmount {
    fs::path point;
    ~Unmount() { Succeeds("umount -l '" + point.string() + "'"); }
  } unmount{folder / "over"};
  read_ahead::Settle();
  const system_calls::ScopedFailure counting(system_calls::Call::kGetXattr, 1000000, EIO);
  searchTally = SearchTally{};
  searchTally.listFiles = false;
  searchTally.searchUncompressed = true;
  {
    CompressedFileFinder finder((folder / "over").c_str(), "*.*");
    finder.Run();
  }
  read_ahead::Settle();
  EXPECT_EQ(searchTally.foundCount, 40);
  EXPECT_EQ(system_calls::CallsMade(system_calls::Call::kGetXattr), 1u);
  searchTally = SearchTally{};
}

TEST(NtfsAttributesTest, AFileWhoseAttributesCannotBeReadIsListedAsSuchAndTheListingGoesOn) {
  const LoopFileSystem ntfs("ntfs", "compression", "32M");
  if (!ntfs.whyNot.empty()) GTEST_SKIP() << ntfs.whyNot;
  // Made in a directory NTFS compresses: each file compressed.
  const fs::path packed = ntfs.mountPoint / "packed";
  fs::create_directory(packed);
  ASSERT_TRUE(
      Succeeds("setfattr -h -n system.ntfs_attrib_be -v 0x00000810 '" + packed.string() + "'"));
  for (const char* name : {"a", "b", "c", "d"}) {
    ASSERT_TRUE(Succeeds("echo some text > '" + (packed / name).string() + "'"));
  }
  const struct {
    const char* name;
    int error;
    DWORD unreadable;  // the record's, for the one file that failed
  } rows[] = {
      {"input/output error", EIO, ERROR_READ_FAULT},
      {"access denied", EACCES, ERROR_ACCESS_DENIED},
      {"not supported for that one file", EOPNOTSUPP, 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    read_ahead::Settle();
    // The first file asked answers for the device; the second fails.
    std::map<std::string, WIN32_FIND_DATAA> records;
    {
      const system_calls::ScopedFailure failure(system_calls::Call::kGetXattr, 1, row.error);
      records = Records(packed);
      read_ahead::Settle();
    }
    ASSERT_EQ(records.size(), 6u) << "the four files and the dots";
    int failed = 0;
    int compressed = 0;
    for (const char* name : {"a", "b", "c", "d"}) {
      const WIN32_FIND_DATAA& record = records.at(name);
      if (AttributesUnreadable(record) != 0) {
        ++failed;
        EXPECT_EQ(AttributesUnreadable(record), row.unreadable) << name;
      }
      if ((record.dwFileAttributes & FILE_ATTRIBUTE_COMPRESSED) != 0) ++compressed;
    }
    EXPECT_EQ(failed, row.unreadable != 0 ? 1 : 0);
    // Every other file says what NTFS keeps; one its device said nothing of
    // is not compressed.
    EXPECT_EQ(compressed, 3);
  }
}

}  // namespace
