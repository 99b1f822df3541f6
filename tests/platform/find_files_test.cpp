// The POSIX directory enumeration on real directories, in a temporary folder.
#include <fcntl.h>
#include <grp.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "find/compressed_file_finder.h"
#include "find/hresult_exception.h"
#include "find/search_tally.h"
#include "platform/posix/read_ahead.h"
#include "platform/win32.h"
#include "tests/support/hold_board.h"
#include "tests/support/posix/settle.h"
#include "tests/support/posix/system_call_faults.h"
#include "tests/support/temp_tree.h"

namespace {

using system_calls::Point;
using ::testing::UnorderedElementsAreArray;

// A temporary tree with the few ways of filling it these cases need.
class FindTree : public TempTree {
 public:
  using TempTree::TempTree;

  std::string Path(const std::string& relative = "") const {
    return relative.empty() ? Root().string() : (Root() / relative).string();
  }
  void Dir(const std::string& relative, mode_t mode = 0755) const {
    ASSERT_EQ(::mkdir(Path(relative).c_str(), mode), 0) << relative << ": " << std::strerror(errno);
  }
  void File(const std::string& relative, off_t size = 0) const {
    const int fd = ::open(Path(relative).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0) << relative << ": " << std::strerror(errno);
    EXPECT_EQ(::ftruncate(fd, size), 0);
    ::close(fd);
  }
  void Link(const std::string& relative, const std::string& target) const {
    ASSERT_EQ(::symlink(target.c_str(), Path(relative).c_str()), 0) << std::strerror(errno);
  }
};

// Every record one search lists, in the order listed. The search must end
// with ERROR_NO_MORE_FILES and close once.
std::vector<WIN32_FIND_DATAA> List(const std::string& specification) {
  std::vector<WIN32_FIND_DATAA> records;
  WIN32_FIND_DATAA record;
  const HANDLE handle = FindFirstFileA(specification.c_str(), &record);
  if (handle == INVALID_HANDLE_VALUE) return records;
  do {
    records.push_back(record);
  } while (FindNextFileA(handle, &record));
  EXPECT_EQ(GetLastError(), ERROR_NO_MORE_FILES) << specification;
  EXPECT_TRUE(FindClose(handle));
  return records;
}

std::vector<std::string> Names(const std::vector<WIN32_FIND_DATAA>& records) {
  std::vector<std::string> names;
  for (const WIN32_FIND_DATAA& record : records) names.emplace_back(record.cFileName);
  return names;
}

std::map<std::string, WIN32_FIND_DATAA> ByName(const std::vector<WIN32_FIND_DATAA>& records) {
  std::map<std::string, WIN32_FIND_DATAA> byName;
  for (const WIN32_FIND_DATAA& record : records) byName[record.cFileName] = record;
  return byName;
}

std::uint64_t Ticks(const FILETIME& time) {
  return (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

TEST(FindFilesTest, RecordsDescribeFilesDirectoriesAndLinks) {
  FindTree tree;
  tree.File("plain", 5000);
  tree.Dir("dir");
  tree.Link("tofile", "plain");
  tree.Link("todir", "dir");
  tree.Link("dangling", "nowhere");
  tree.Link("loop", "loop");
  const auto byName = ByName(List(tree.Path("*")));
  const DWORD link = FILE_ATTRIBUTE_REPARSE_POINT;
  const struct {
    const char* name;
    DWORD attributes;
    DWORD reparseTag;
  } cases[] = {
      {"plain", FILE_ATTRIBUTE_NORMAL, 0},
      {"dir", FILE_ATTRIBUTE_DIRECTORY, 0},
      {"tofile", link, IO_REPARSE_TAG_SYMLINK},
      {"todir", link | FILE_ATTRIBUTE_DIRECTORY, IO_REPARSE_TAG_SYMLINK},
      {"dangling", link, IO_REPARSE_TAG_SYMLINK},
      {"loop", link, IO_REPARSE_TAG_SYMLINK},
      {".", FILE_ATTRIBUTE_DIRECTORY, 0},
      {"..", FILE_ATTRIBUTE_DIRECTORY, 0},
  };
  EXPECT_EQ(byName.size(), std::size(cases));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto found = byName.find(c.name);
    ASSERT_NE(found, byName.end());
    EXPECT_EQ(found->second.dwFileAttributes, c.attributes);
    EXPECT_EQ(found->second.dwReserved0, c.reparseTag);
  }
  EXPECT_EQ(byName.at("plain").nFileSizeLow, 5000u);
  EXPECT_EQ(byName.at("dir").nFileSizeLow, 0u) << "directories have no size";
}

TEST(FindFilesTest, SizesAndTimesAreThePlatformsOwn) {
  FindTree tree;
  tree.File("big", (5LL << 30) + 7);  // sparse
  tree.File("epoch");
  const struct timespec times[2] = {{1, 500}, {0, 0}};  // access, modification
  ASSERT_EQ(::utimensat(AT_FDCWD, tree.Path("epoch").c_str(), times, 0), 0);
  const auto byName = ByName(List(tree.Path("*")));

  EXPECT_EQ(byName.at("big").nFileSizeHigh, 1u);
  EXPECT_EQ(byName.at("big").nFileSizeLow, (1u << 30) + 7);
  // 1970-01-01 is 116444736000000000 ticks of 100 ns after 1601-01-01.
  EXPECT_EQ(Ticks(byName.at("epoch").ftLastWriteTime), 116444736000000000ULL);
  EXPECT_EQ(Ticks(byName.at("epoch").ftLastAccessTime), 116444736000000000ULL + 10000005ULL);
  EXPECT_GT(Ticks(byName.at("epoch").ftCreationTime), 116444736000000000ULL);
}

// Marks a file compressed the way chattr +c does. Empty when done, else why not.
std::string MarkCompressed(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::string("open: ") + std::strerror(errno);
  int flags = 0;
  std::string refusal;
  if (::ioctl(fd, FS_IOC_GETFLAGS, &flags) != 0) {
    refusal = std::string("FS_IOC_GETFLAGS: ") + std::strerror(errno);
  } else {
    flags |= FS_COMPR_FL;
    if (::ioctl(fd, FS_IOC_SETFLAGS, &flags) != 0) {
      refusal = std::string("FS_IOC_SETFLAGS(FS_COMPR_FL): ") + std::strerror(errno);
    }
  }
  ::close(fd);
  return refusal;
}

// Times the record cannot hold come out as its nearest ends, whatever a file
// system reports: before 1601 the earliest, beyond 64 bits of ticks the latest.
TEST(FindFilesTest, TimesOutsideTheRecordsRangeComeOutAsItsEnds) {
  // tmpfs keeps whatever 64-bit second count it is given; most disks clamp.
  struct stat shm;
  if (::stat("/dev/shm", &shm) != 0 || !S_ISDIR(shm.st_mode)) GTEST_SKIP() << "no /dev/shm";
  FindTree tree("/dev/shm");
  tree.File("far");
  const struct timespec times[2] = {{-20000000000, 0}, {INT64_MAX - 5, 999999999}};
  ASSERT_EQ(::utimensat(AT_FDCWD, tree.Path("far").c_str(), times, 0), 0);
  struct stat kept;
  ASSERT_EQ(::stat(tree.Path("far").c_str(), &kept), 0);
  if (kept.st_mtim.tv_sec != INT64_MAX - 5 || kept.st_atim.tv_sec != -20000000000) {
    GTEST_SKIP() << "the file system of /dev/shm clamps times";
  }
  const auto byName = ByName(List(tree.Path("*")));
  EXPECT_EQ(Ticks(byName.at("far").ftLastWriteTime), UINT64_MAX);
  EXPECT_EQ(Ticks(byName.at("far").ftLastAccessTime), 0u);
}

TEST(FindFilesTest, AFileMarkedCompressedCarriesTheCompressedBitAndNoOther) {
  FindTree tree;
  tree.File("packed");
  tree.File("plain");
  const std::string refusal = MarkCompressed(tree.Path("packed"));
  if (!refusal.empty())
    GTEST_SKIP() << "the file system of /tmp refuses the compressed flag: " << refusal;
  struct statx status;
  ASSERT_EQ(::statx(AT_FDCWD, tree.Path("packed").c_str(), 0, STATX_BASIC_STATS, &status), 0);
  if ((status.stx_attributes_mask & STATX_ATTR_COMPRESSED) == 0) {
    GTEST_SKIP()
        << "the file system of /tmp takes the compressed flag but statx does not report it";
  }
  const auto byName = ByName(List(tree.Path("*")));
  EXPECT_EQ(byName.at("packed").dwFileAttributes, FILE_ATTRIBUTE_COMPRESSED);
  EXPECT_EQ(byName.at("plain").dwFileAttributes, FILE_ATTRIBUTE_NORMAL);
}

TEST(FindFilesTest, AMountRootIsAReparsePointWithTheMountPointTag) {
  struct statx status;
  if (::statx(AT_FDCWD, "/proc", AT_SYMLINK_NOFOLLOW, STATX_TYPE, &status) != 0 ||
      (status.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) == 0 ||
      (status.stx_attributes & STATX_ATTR_MOUNT_ROOT) == 0) {
    GTEST_SKIP() << "/proc is not reported as a mount root on this machine";
  }
  // An empty directory part names the root.
  const std::vector<WIN32_FIND_DATAA> records = List("/proc");
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].dwFileAttributes, FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT);
  EXPECT_EQ(records[0].dwReserved0, IO_REPARSE_TAG_MOUNT_POINT);
}

TEST(FindFilesTest, PatternsFollowTheWildcardRules) {
  FindTree tree;
  for (const char* name : {"a.txt", "B.TXT", "noext", "x.tar.gz", ".hidden", "ab"}) tree.File(name);
  const std::vector<std::string> all = {".",     "..",       "a.txt",   "B.TXT",
                                        "noext", "x.tar.gz", ".hidden", "ab"};
  const struct {
    const char* pattern;
    std::vector<std::string> names;
  } cases[] = {
      {"*", all},
      {"*.*", all},
      {"*.txt", {"a.txt", "B.TXT"}},
      {"?.TxT", {"a.txt", "B.TXT"}},
      {"noext.*", {"noext"}},
      {"x.tar.*", {"x.tar.gz"}},
      {"*.gz", {"x.tar.gz"}},
      {"?", {"."}},
      {"??", {"..", "ab"}},
      {"a*", {"a.txt", "ab"}},
      {"*b*", {"B.TXT", "ab"}},
      {".*", {".", "..", ".hidden"}},
      {"AB", {"ab"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.pattern);
    EXPECT_THAT(Names(List(tree.Path(c.pattern))), UnorderedElementsAreArray(c.names));
  }
}

TEST(FindFilesTest, NothingToOpenOrNothingMatchingGivesNoHandle) {
  FindTree tree;
  tree.File("file");
  const struct {
    const char* name;
    std::string specification;
    DWORD error;
  } cases[] = {
      {"missing directory", tree.Path("missing/*"), ERROR_PATH_NOT_FOUND},
      {"a file taken for a directory", tree.Path("file/*"), ERROR_DIRECTORY},
      {"a file on the way", tree.Path("file/deeper/*"), ERROR_DIRECTORY},
      {"no name matches", tree.Path("*.none"), ERROR_FILE_NOT_FOUND},
      {"no pattern after the separator", tree.Path("") + "/", ERROR_FILE_NOT_FOUND},
      {"directory longer than a path", std::string(5000, 'd') + "/*", ERROR_FILENAME_EXCED_RANGE},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WIN32_FIND_DATAA record;
    SetLastError(0);
    EXPECT_EQ(FindFirstFileA(c.specification.c_str(), &record), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), c.error);
  }
}

TEST(FindFilesTest, ADirectoryDeeperThanTheLongestPathIsListedAllTheSame) {
  FindTree tree;
  // Built relative to each level, since the whole path is too long for one call.
  const std::string name(200, 'n');
  std::string relative;
  int fd = ::open(tree.Path("").c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(fd, 0);
  while (relative.size() < 2 * PATH_MAX) {
    ASSERT_EQ(::mkdirat(fd, name.c_str(), 0755), 0);
    const int next = ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY);
    ::close(fd);
    ASSERT_GE(next, 0);
    fd = next;
    relative += (relative.empty() ? "" : "/") + name;
  }
  const int file = ::openat(fd, "deep.txt", O_CREAT | O_WRONLY, 0644);
  ASSERT_GE(file, 0);
  ::close(file);
  ::close(fd);
  for (const std::string separators : {"/", "//"}) {
    SCOPED_TRACE(separators);
    std::string spec = tree.Path("");
    for (std::size_t at = 0; at < relative.size(); at += name.size() + 1) {
      spec += separators + relative.substr(at, name.size());
    }
    EXPECT_THAT(Names(List(spec + "/*.txt")), UnorderedElementsAreArray({"deep.txt"}));
  }
}

// A path of directories, each made relative to the one before, so that the
// whole may run past PATH_MAX. Separator runs land at the offsets a case asks
// for, counted from the start of the whole path.
class LongPath {
 public:
  explicit LongPath(const std::string& root) : path(root) {}

  // Names (of 200 characters at most) up to offset, then separators there.
  LongPath& SeparatorsAt(std::size_t offset, const std::string& separators) {
    NamesUpTo(offset);
    path += separators;
    return *this;
  }
  // Names up to length in all (one name when the path ends in separators).
  LongPath& NamesUpTo(std::size_t length) {
    while (path.size() < length) {
      std::size_t gap = length - path.size();
      const bool afterSeparator = path.back() == '/';
      std::size_t name = afterSeparator ? gap : gap - 1;
      if (name > 200) name = std::min<std::size_t>(200, gap - 3);  // leave room for one more
      path += (afterSeparator ? "" : "/") + std::string(name, 'n');
    }
    return *this;
  }
  const std::string& Text() const { return path; }

  // Makes every directory the path names under root, and a file in the last.
  void Make(const std::string& root, const char* file) const {
    int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    std::size_t at = root.size();
    while (at < path.size()) {
      while (at < path.size() && path[at] == '/') ++at;
      if (at == path.size()) break;
      const std::size_t end = std::min(path.find('/', at), path.size());
      const std::string name = path.substr(at, end - at);
      at = end;
      ASSERT_EQ(::mkdirat(fd, name.c_str(), 0755), 0) << name << ": " << std::strerror(errno);
      const int next = ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      ::close(fd);
      ASSERT_GE(next, 0) << std::strerror(errno);
      fd = next;
    }
    const int created = ::openat(fd, file, O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
    EXPECT_GE(created, 0);
    ::close(created);
    ::close(fd);
  }

 private:
  std::string path;
};

// The kernel takes at most PATH_MAX - 1 characters in one path, so a longer
// directory is opened a piece at a time. Each row puts what decides where a
// piece ends right at that limit.
TEST(FindFilesTest, ADirectoryPastTheLongestPathIsOpenedWhateverLiesAtThePieceBoundary) {
  constexpr std::size_t kLongest = PATH_MAX - 1;  // characters of the longest piece
  const struct {
    const char* name;
    std::function<void(LongPath&)> shape;
  } rows[] = {
      {"exactly the longest piece", [](LongPath& p) { p.NamesUpTo(kLongest); }},
      {"one character more", [](LongPath& p) { p.NamesUpTo(kLongest + 1); }},
      {"a separator where the longest piece ends",
       [](LongPath& p) { p.SeparatorsAt(kLongest, "/").NamesUpTo(kLongest + 600); }},
      {"a separator just past it",
       [](LongPath& p) { p.SeparatorsAt(kLongest + 1, "/").NamesUpTo(kLongest + 600); }},
      {"separators on both sides of the boundary",
       [](LongPath& p) { p.SeparatorsAt(kLongest, "//").NamesUpTo(kLongest + 600); }},
      {"three separators across it",
       [](LongPath& p) { p.SeparatorsAt(kLongest - 1, "///").NamesUpTo(kLongest + 600); }},
      {"separators across it ending the directory",
       [](LongPath& p) { p.SeparatorsAt(kLongest, "//"); }},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    FindTree tree;
    LongPath path(tree.Path());
    row.shape(path);
    path.Make(tree.Path(), "deep.txt");
    // The last separator before the pattern is not part of the directory.
    EXPECT_THAT(Names(List(path.Text() + "/*.txt")), UnorderedElementsAreArray({"deep.txt"}))
        << path.Text().size() << " characters";
  }
}

TEST(FindFilesTest, AnEndedSearchStaysEndedAndAHandleClosesOnce) {
  FindTree tree;
  WIN32_FIND_DATAA record;
  const HANDLE handle = FindFirstFileA(tree.Path("*").c_str(), &record);
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(FindNextFileA(handle, &record));  // "." and ".." only
  for (int again = 0; again < 2; ++again) {
    SetLastError(0);
    EXPECT_FALSE(FindNextFileA(handle, &record));
    EXPECT_EQ(GetLastError(), ERROR_NO_MORE_FILES);
  }
  EXPECT_TRUE(FindClose(handle));
  for (const HANDLE stale : {handle, INVALID_HANDLE_VALUE, static_cast<HANDLE>(nullptr)}) {
    SetLastError(0);
    EXPECT_FALSE(FindClose(stale));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    SetLastError(0);
    EXPECT_FALSE(FindNextFileA(stale, &record));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  }
}

// A handle that was closed, or was never answered, is refused without harm,
// even when its slot now holds another search, which goes on undisturbed.
TEST(FindFilesTest, StaleAndMadeUpHandlesAreRefusedAndLeaveOpenSearchesAlone) {
  FindTree tree;
  for (const char* name : {"one", "two", "three"}) tree.File(name);
  WIN32_FIND_DATAA record;
  const HANDLE closed = FindFirstFileA(tree.Path("*").c_str(), &record);
  ASSERT_NE(closed, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(FindClose(closed));
  const HANDLE open = FindFirstFileA(tree.Path("*").c_str(), &record);
  ASSERT_NE(open, INVALID_HANDLE_VALUE);
  std::vector<std::string> names = {record.cFileName};

  const auto value = reinterpret_cast<std::uintptr_t>(open);
  // Values close to a live handle in every way a handle could be read, and
  // values that are nothing like one.
  const std::uintptr_t madeUp[] = {
      reinterpret_cast<std::uintptr_t>(closed),
      value + 1,
      value - 1,
      value ^ (std::uintptr_t{1} << 40),
      value & 0xFFFFF,
      0xFFFFF,
      1,
      16,
      ~std::uintptr_t{0} - 1,
      reinterpret_cast<std::uintptr_t>(&record),
  };
  for (const std::uintptr_t bad : madeUp) {
    SCOPED_TRACE(bad);
    const auto handle = reinterpret_cast<HANDLE>(bad);
    WIN32_FIND_DATAA untouched = {};
    SetLastError(0);
    EXPECT_FALSE(FindNextFileA(handle, &untouched));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(untouched.cFileName[0], '\0');
    SetLastError(0);
    EXPECT_FALSE(FindClose(handle));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  }

  while (FindNextFileA(open, &record)) names.emplace_back(record.cFileName);
  EXPECT_EQ(GetLastError(), ERROR_NO_MORE_FILES);
  EXPECT_THAT(names, UnorderedElementsAreArray({".", "..", "one", "two", "three"}));
  EXPECT_TRUE(FindClose(open));
}

// More searches open at once than the first blocks of handles hold: each
// lists its own directory, whatever order they are read in.
TEST(FindFilesTest, ManySearchesOpenAtOnceEachListTheirOwn) {
  FindTree tree;
  constexpr int kSearches = 300;
  std::vector<HANDLE> handles;
  std::vector<std::vector<std::string>> names(kSearches);
  for (int i = 0; i < kSearches; ++i) {
    const std::string directory = "d" + std::to_string(i);
    tree.Dir(directory);
    tree.File(directory + "/f" + std::to_string(i));
    WIN32_FIND_DATAA record;
    handles.push_back(FindFirstFileA(tree.Path(directory + "/*").c_str(), &record));
    ASSERT_NE(handles.back(), INVALID_HANDLE_VALUE) << i;
    names[i].emplace_back(record.cFileName);
  }
  for (bool more = true; more;) {
    more = false;
    for (int i = kSearches - 1; i >= 0; --i) {
      WIN32_FIND_DATAA record;
      if (!FindNextFileA(handles[i], &record)) continue;
      names[i].emplace_back(record.cFileName);
      more = true;
    }
  }
  for (int i = 0; i < kSearches; ++i) {
    EXPECT_THAT(names[i], UnorderedElementsAreArray(
                              std::vector<std::string>{".", "..", "f" + std::to_string(i)}))
        << i;
  }
  for (const HANDLE handle : handles) EXPECT_TRUE(FindClose(handle));
  for (const HANDLE handle : handles) EXPECT_FALSE(FindClose(handle));
}

// Searches one after the other, down, up and sideways, between directories
// whose names share a beginning, with other patterns and other spellings of
// the same path: each lists its own directory, whatever was searched before
// and whatever is kept open from it.
TEST(FindFilesTest, EachSearchListsItsOwnDirectoryWhateverCameBefore) {
  FindTree tree;
  for (const char* directory : {"a", "a/b", "a/b/c", "a/bc", "a/bc/c", "ab", "ab/b"}) {
    tree.Dir(directory);
    tree.File(std::string(directory) + "/in-" + std::string(directory).substr(0, 1) +
              std::to_string(std::string(directory).size()) + ".txt");
  }
  tree.File("a/b/c/other");
  const struct {
    const char* search;  // below the tree
    std::vector<std::string> names;
  } rows[] = {
      {"a/*", {".", "..", "b", "bc", "in-a1.txt"}},
      {"a/b/*", {".", "..", "c", "in-a3.txt"}},
      {"a/b/c/*", {".", "..", "in-a5.txt", "other"}},
      {"a/bc/*", {".", "..", "c", "in-a4.txt"}},
      {"a/bc/c/*", {".", "..", "in-a6.txt"}},
      {"a/b/c/*.txt", {"in-a5.txt"}},
      {"ab/*", {".", "..", "b", "in-a2.txt"}},
      {"ab/b/*", {".", "..", "in-a4.txt"}},
      {"a/b/*", {".", "..", "c", "in-a3.txt"}},
      {"a//b/c/*", {".", "..", "in-a5.txt", "other"}},
      {"a/b/../bc/*", {".", "..", "c", "in-a4.txt"}},
      {"a/*", {".", "..", "b", "bc", "in-a1.txt"}},
  };
  for (const auto& row : rows) {
    EXPECT_THAT(Names(List(tree.Path(row.search))), UnorderedElementsAreArray(row.names))
        << row.search;
  }
  // A directory replaced after its parent's listing named it is not the one
  // listed: it is refused as changed, and only a new listing of the parent
  // makes the new one searchable.
  ASSERT_EQ(::rename(tree.Path("a/b").c_str(), tree.Path("old-b").c_str()), 0);
  tree.Dir("a/b");
  tree.File("a/b/new");
  WIN32_FIND_DATAA record;
  EXPECT_EQ(FindFirstFileA(tree.Path("a/b/*").c_str(), &record), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_INVALID);
  EXPECT_THAT(Names(List(tree.Path("a/*"))), UnorderedElementsAreArray(std::vector<std::string>{
                                                 ".", "..", "b", "bc", "in-a1.txt"}));
  EXPECT_THAT(Names(List(tree.Path("a/b/*"))),
              UnorderedElementsAreArray(std::vector<std::string>{".", "..", "new"}));
}

TEST(FindFilesTest, UnusualNamesComeBackByteForByte) {
  FindTree tree;
  const std::vector<std::string> names = {"with space",         "new\nline", "back\\slash",
                                          "\xff\xfe not utf-8", "star*and?", "tab\there",
                                          std::string(255, 'n')};
  for (const std::string& name : names) tree.File(name);
  std::vector<std::string> expected = names;
  expected.insert(expected.end(), {".", ".."});
  EXPECT_THAT(Names(List(tree.Path("*"))), UnorderedElementsAreArray(expected));
}

TEST(FindFilesTest, AListingLargerThanOneBatchComesBackWhole) {
  FindTree tree;
  std::vector<std::string> expected = {".", ".."};
  for (int i = 0; i < 1500; ++i) {
    // About 230 bytes of listing each: several 64 KiB batches in all.
    expected.push_back(std::to_string(i) + std::string(200, 'x'));
    tree.File(expected.back());
  }
  EXPECT_THAT(Names(List(tree.Path("*.*"))), UnorderedElementsAreArray(expected));
}

// Runs a CompressedFileFinder over directory, counting without listing.
DWORD ExaminedBelow(const std::string& directory, int mode) {
  searchTally = SearchTally{};
  searchTally.listFiles = false;
  CompressedFileFinder finder(directory.c_str(), "*.*");
  finder.SetRecursionMode(mode);
  finder.Run();
  const DWORD examined = searchTally.examinedCount;
  searchTally = SearchTally{};
  return examined;
}

TEST(FindFilesTest, TheSearchCountsLinksToFilesAndFollowsNoDirectoryLink) {
  FindTree tree;
  tree.Dir("sub");
  tree.File("sub/one");
  tree.File("sub/two");
  tree.Link("sub/up", "..");         // a loop back to the top
  tree.Link("sub/toone", "one");     // a link to a file is a file
  tree.Link("tosub", "sub");         // the same files again, through a link
  tree.Link("dangling", "nowhere");  // a file that leads nowhere
  EXPECT_EQ(ExaminedBelow(tree.Path(), QueuedRecursion), 4u);
}

// The kernel answers EAGAIN to a resolution through ".." while anything is
// renamed on the system. Wherever such answers land, a link to a directory is
// never taken for a file: asked again, and at last resolved by hand.
TEST(FindFilesTest, AResolutionTheKernelAsksToRetryNeverTurnsADirectoryLinkIntoAFile) {
  FindTree tree;
  tree.Dir("sub");
  tree.File("sub/one");
  tree.Link("sub/up", "..");
  tree.Link("sub/self", ".");
  tree.Link("tosub", "sub");
  const DWORD clean = ExaminedBelow(tree.Path(), QueuedRecursion);
  ASSERT_EQ(clean, 1u);
  std::uint64_t opens = 0;
  {
    const system_calls::ScopedFailure counting(system_calls::Call::kOpenAt, 1000000, EAGAIN);
    ExaminedBelow(tree.Path(), QueuedRecursion);
    opens = system_calls::CallsMade(system_calls::Call::kOpenAt);
  }
  // One answer, then as many as there are tries and the by-hand way is taken.
  for (const std::uint64_t failing : {1u, 4u}) {
    for (std::uint64_t passing = 0; passing < opens; ++passing) {
      SCOPED_TRACE("failing " + std::to_string(failing) + " after " + std::to_string(passing));
      read_ahead::Settle();
      const system_calls::ScopedFailure again(system_calls::Call::kOpenAt, passing, EAGAIN,
                                              failing);
      EXPECT_LE(ExaminedBelow(tree.Path(), QueuedRecursion), clean);
    }
  }
}

// What a search of a directory ends with when one of its system calls fails:
// the error FindFirstFileA or the last FindNextFileA leaves, and whether the
// engine then ends the whole search as out of memory.
struct CallFailureRow {
  const char* name;
  system_calls::Call call;
  std::uint64_t passing;  // calls of that kind that still go through
  int error;
  DWORD lastError;
  bool outOfMemory;
};

// The error one listing ended with, read to its end.
DWORD ErrorAtTheEnd(const std::string& specification) {
  WIN32_FIND_DATAA record;
  const HANDLE handle = FindFirstFileA(specification.c_str(), &record);
  if (handle == INVALID_HANDLE_VALUE) return GetLastError();
  while (FindNextFileA(handle, &record)) {
  }
  const DWORD error = GetLastError();
  EXPECT_TRUE(FindClose(handle));
  return error;
}

// A directory the system had no memory to open, read or describe is neither
// empty nor ended: the search ends as out of memory instead of miscounting
// the tree. Other failures keep their own meaning and the search goes on.
TEST(FindFilesTest, ACallThatFailsForWantOfMemoryEndsTheSearchAsOutOfMemory) {
  using system_calls::Call;
  const CallFailureRow rows[] = {
      {"opening, no memory", Call::kOpenAt, 0, ENOMEM, ERROR_NOT_ENOUGH_MEMORY, true},
      {"first read, no memory", Call::kGetDents64, 0, ENOMEM, ERROR_NOT_ENOUGH_MEMORY, true},
      {"later read, no memory", Call::kGetDents64, 1, ENOMEM, ERROR_NOT_ENOUGH_MEMORY, true},
      {"describing an entry, no memory", Call::kStatx, 0, ENOMEM, ERROR_NOT_ENOUGH_MEMORY, true},
      {"opening, access denied", Call::kOpenAt, 0, EACCES, ERROR_ACCESS_DENIED, false},
      {"opening, too many open files", Call::kOpenAt, 0, EMFILE, ERROR_TOO_MANY_OPEN_FILES, false},
      {"an entry that vanished", Call::kStatx, 0, ENOENT, ERROR_NO_MORE_FILES, false},
      // Refused for one entry of a directory that lets names be looked up:
      // that entry's own problem, listed as unreadable, and the listing goes on.
      {"describing the first entry, access denied", Call::kStatx, 0, EACCES, ERROR_NO_MORE_FILES,
       false},
      {"describing a later entry, access denied", Call::kStatx, 1, EACCES, ERROR_NO_MORE_FILES,
       false},
  };
  FindTree tree;
  tree.File("one");
  tree.File("two");
  for (const CallFailureRow& row : rows) {
    SCOPED_TRACE(row.name);
    // A thread reading ahead that is short of memory leaves the work to the
    // walk's own thread, which then reads the directory whole.
    const auto givenBack = [&] {
      return row.outOfMemory && system_calls::FailuresOnOtherThreads() > 0;
    };
    {
      read_ahead::Settle();
      const system_calls::ScopedFailure failure(row.call, row.passing, row.error);
      const DWORD error = ErrorAtTheEnd(tree.Path("*"));
      EXPECT_EQ(error, givenBack() ? ERROR_NO_MORE_FILES : row.lastError);
      EXPECT_GT(system_calls::CallsMade(row.call), row.passing) << "the failure was reached";
    }
    searchTally = SearchTally{};
    searchTally.listFiles = false;
    bool outOfMemory = false;
    bool whole = false;
    {
      read_ahead::Settle();
      const system_calls::ScopedFailure failure(row.call, row.passing, row.error);
      try {
        CompressedFileFinder finder(tree.Path().c_str(), "*.*");
        finder.Run();
      } catch (const HResultException& e) {
        outOfMemory = e.GetResult() == E_OUTOFMEMORY;
      }
      whole = givenBack();
    }
    EXPECT_EQ(outOfMemory, row.outOfMemory && !whole);
    if (!outOfMemory) {
      // What the listing gave before the failure; a vanished entry hides
      // only itself, an unreadable one nothing.
      const std::uint64_t examined = whole                      ? 2
                                     : row.call != Call::kStatx ? 0
                                     : row.error == ENOENT      ? 1
                                     : row.error == EACCES      ? 2
                                                                : row.passing;
      EXPECT_EQ(searchTally.examinedCount, examined);
    }
    searchTally = SearchTally{};
  }
}

// How many times any thread passed point.
std::size_t TimesPassed(const std::vector<HoldBoard::Passage>& passages, Point point) {
  return static_cast<std::size_t>(
      std::count_if(passages.begin(), passages.end(),
                    [point](const HoldBoard::Passage& passage) { return passage.point == point; }));
}

// Whether the walk's thread checked a listing read long before and found it
// could not say the directory was the same: the next point it passed opened
// that directory again itself. Only a failed call makes that check fail in
// a tree nothing changes.
bool AFreshnessCheckFailed(const std::vector<HoldBoard::Passage>& passages,
                           std::thread::id walkThread) {
  const HoldBoard::Passage* previous = nullptr;
  for (const HoldBoard::Passage& passage : passages) {
    if (passage.thread != walkThread) continue;
    if (previous != nullptr && previous->point == Point::kCheckingFreshness &&
        passage.point == Point::kOpeningInLine && passage.name == previous->name) {
      return true;
    }
    previous = &passage;
  }
  return false;
}

// Any one call of a whole walk failing for want of memory ends the walk as
// out of memory or costs nothing: never a walk that merely counted less.
// Taken by a thread reading ahead, it only leaves that work to the walk's
// thread, which counts every file. Taken by the walk's own thread, it ends
// the walk as out of memory, unless it failed the check of a listing read
// long before, after which the walk reads that directory again itself. The
// hold board notes the points the walk's thread passes, and keeps that
// thread to its own directory (it takes no step of other work aside). Each
// call of each kind fails in turn.
TEST(FindFilesTest, AnyCallOfAWalkFailingForWantOfMemoryEndsItAsOutOfMemory) {
  FindTree tree;
  for (int directory = 0; directory < 12; ++directory) {
    const std::string name = "d" + std::to_string(directory);
    tree.Dir(name);
    tree.Dir(name + "/inner");
    tree.File(name + "/one");
    tree.File(name + "/inner/two");
  }
  constexpr DWORD kFiles = 24;
  const std::thread::id walkThread = std::this_thread::get_id();
  for (const system_calls::Call call :
       {system_calls::Call::kOpenAt, system_calls::Call::kGetDents64, system_calls::Call::kStatx}) {
    SCOPED_TRACE("call kind " + std::to_string(static_cast<unsigned>(call)));
    std::uint64_t calls = 0;
    {
      // Counted, never reached: the walk's calls of that kind. Each walk
      // starts once nothing of the one before reads on.
      read_ahead::Settle();
      const system_calls::ScopedFailure counting(call, 1000000, ENOMEM);
      ASSERT_EQ(ExaminedBelow(tree.Path(), QueuedRecursion), kFiles);
      calls = system_calls::CallsMade(call);
    }
    ASSERT_GT(calls, 0u);
    for (std::uint64_t passing = 0; passing < calls; ++passing) {
      SCOPED_TRACE("call " + std::to_string(passing) + " failing");
      bool outOfMemory = false;
      DWORD examined = 0;
      bool costsNothing = false;
      {
        read_ahead::Settle();
        Holds holds;
        const system_calls::ScopedFailure failure(call, passing, ENOMEM);
        try {
          examined = ExaminedBelow(tree.Path(), QueuedRecursion);
        } catch (const HResultException& e) {
          outOfMemory = e.GetResult() == E_OUTOFMEMORY;
          searchTally = SearchTally{};
        }
        read_ahead::Settle();
        // The read-ahead's walks differ in their calls from run to run: this
        // one may have made fewer than passing + 1.
        const bool taken = system_calls::CallsMade(call) > passing;
        costsNothing = !taken || system_calls::FailuresOnOtherThreads() > 0 ||
                       AFreshnessCheckFailed(holds.Passages(), walkThread);
      }
      if (costsNothing) {
        EXPECT_FALSE(outOfMemory);
        EXPECT_EQ(examined, kFiles) << "a failure left to the walk cost files";
      } else {
        EXPECT_TRUE(outOfMemory) << "the walk ended normally, having examined " << examined;
      }
    }
  }
}

// The read-ahead starts only once the walk has asked for a subdirectory: a
// walk that does not recurse opens nothing below where it starts. Its start
// lists in several batches, so that whichever threads are not reading it have
// the directories it named before them for as long as the rest is read;
// Settle returns once no thread reads ahead, and every open is counted by then.
TEST(FindFilesTest, AWalkThatDoesNotRecurseOpensNothingBelowItsStart) {
  FindTree tree;
  for (int i = 0; i < 20; ++i) {
    tree.Dir("d" + std::to_string(i));
    tree.File("d" + std::to_string(i) + "/f");
  }
  for (int i = 0; i < 1000; ++i) tree.File(std::to_string(i) + std::string(200, 'x'));
  read_ahead::Settle();
  Holds holds;  // notes every point passed
  {
    const system_calls::ScopedFailure counting(system_calls::Call::kOpenAt, 1000000, ENOMEM);
    EXPECT_EQ(ExaminedBelow(tree.Path(), NoRecursion), 1000u);
    read_ahead::Settle();
    EXPECT_EQ(system_calls::CallsMade(system_calls::Call::kOpenAt), 1u) << "opened below the start";
  }
  EXPECT_EQ(TimesPassed(holds.Passages(), Point::kOpeningAhead), 0u) << "opened ahead";
  // Recursing, each directory is opened once; a listing read ahead long
  // before the walk reached it is checked by opening the directory again.
  holds.Forget();
  const system_calls::ScopedFailure counting(system_calls::Call::kOpenAt, 1000000, ENOMEM);
  EXPECT_EQ(ExaminedBelow(tree.Path(), QueuedRecursion), 1020u);
  read_ahead::Settle();
  EXPECT_EQ(system_calls::CallsMade(system_calls::Call::kOpenAt),
            21u + TimesPassed(holds.Passages(), Point::kCheckingFreshness));
}

// A worker that cannot open a directory ahead for want of descriptors gives
// it back: the walk opens it itself when it asks for it, and the shortage the
// worker met is not the directory's error. On one thread the walk's own open
// is the only one, and its shortage is the directory's error.
TEST(FindFilesTest, ADirectoryNotOpenedAheadForWantOfDescriptorsIsOpenedWhenAskedFor) {
  const struct {
    const char* name;
    int error;
  } rows[] = {
      {"the process's descriptors", EMFILE},
      {"the system's descriptors", ENFILE},
  };
  const std::vector<std::string> inside = {".", "..", "f"};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    read_ahead::Settle();
    FindTree tree;
    tree.Dir("mid");
    for (const std::string name : {"a", "b", "c"}) {
      tree.Dir("mid/" + name);
      tree.File("mid/" + name + "/f");
    }
    Holds holds;
    // Workers reading ahead wait before opening any of the three; the walk
    // asking for mid, below the start, sets them reading ahead.
    for (const char* name : {"a", "b", "c"}) holds.HoldAt(Point::kOpeningAhead, name);
    ASSERT_EQ(List(tree.Path("*")).size(), 3u);
    std::vector<std::string> order;
    for (const std::string& name : Names(List(tree.Path("mid/*")))) {
      if (name[0] != '.') order.push_back(name);
    }
    ASSERT_EQ(order.size(), 3u);
    const std::string& shortOne = order[1];
    holds.Release(Point::kOpeningAhead, order[0]);
    EXPECT_THAT(Names(List(tree.Path("mid/" + order[0] + "/*"))),
                UnorderedElementsAreArray(inside));
    if (read_ahead::Enabled()) {
      ASSERT_TRUE(holds.WaitFor(Point::kOpeningAhead, shortOne));
      {
        const system_calls::ScopedFailure shortage(system_calls::Call::kOpenAt, 0, row.error);
        holds.Release(Point::kOpeningAhead, shortOne);
        ASSERT_TRUE(holds.WaitFor(Point::kOpenedAhead, shortOne));
        ASSERT_EQ(system_calls::FailuresOnOtherThreads(), 1u) << "no worker met the shortage";
      }
      EXPECT_THAT(Names(List(tree.Path("mid/" + shortOne + "/*"))),
                  UnorderedElementsAreArray(inside));
      bool openedByTheWalk = false;
      for (const HoldBoard::Passage& passage : holds.Passages()) {
        openedByTheWalk |= passage.point == Point::kOpeningInLine && passage.name == shortOne &&
                           passage.thread == std::this_thread::get_id();
      }
      EXPECT_TRUE(openedByTheWalk);
    } else {
      const system_calls::ScopedFailure shortage(system_calls::Call::kOpenAt, 0, row.error,
                                                 1000000);
      EXPECT_EQ(ErrorAtTheEnd(tree.Path("mid/" + shortOne + "/*")), ERROR_TOO_MANY_OPEN_FILES);
    }
    holds.Release(Point::kOpeningAhead, order[2]);
    EXPECT_THAT(Names(List(tree.Path("mid/" + order[2] + "/*"))),
                UnorderedElementsAreArray(inside));
  }
}

constexpr int kDepth = 400;

// What a walk of a tree kDepth levels deep, each level a directory d holding
// a file f, examined and warned under a limit of 24 descriptors. In a child
// process of its own: made, walked and removed there, the limit lowered (the
// soft one only, so that the tree can be removed) for the walk alone.
struct LowLimitWalk {
  DWORD examined;
  std::string warnings;
  std::string root;
};

LowLimitWalk WalkADeepTreeUnderALowDescriptorLimit(int mode) {
  FindTree tree;
  std::string relative;
  for (int level = 0; level < kDepth; ++level) {
    relative += relative.empty() ? "d" : "/d";
    tree.Dir(relative);
    tree.File(relative + "/f");
  }
  std::ostringstream warnings;
  std::streambuf* const standardError = std::cerr.rdbuf(warnings.rdbuf());
  // The sanitizers check an object's type on its first use through
  // /proc/self/maps, which takes a descriptor: the stream and the walk's
  // objects are used once while descriptors are left.
  std::cerr << "" << std::flush;
  ExaminedBelow(tree.Path(), NoRecursion);
  struct rlimit usual;
  if (::getrlimit(RLIMIT_NOFILE, &usual) != 0) std::_Exit(2);
  const struct rlimit low = {24, usual.rlim_max};
  if (::setrlimit(RLIMIT_NOFILE, &low) != 0) std::_Exit(2);
  const DWORD examined = ExaminedBelow(tree.Path(), mode);
  if (::setrlimit(RLIMIT_NOFILE, &usual) != 0) std::_Exit(2);
  std::cerr.rdbuf(standardError);
  return {examined, warnings.str(), tree.Path()};
}

// One directory open at a time gets to the bottom, with or without the
// read-ahead, which holds no more descriptors than are left.
[[noreturn]] void WalkQueued() {
  const LowLimitWalk walk = WalkADeepTreeUnderALowDescriptorLimit(QueuedRecursion);
  std::fprintf(stderr, "examined %u, warnings: %s\n", walk.examined, walk.warnings.c_str());
  std::_Exit(walk.examined == kDepth && walk.warnings.empty() ? 0 : 1);
}

// One directory open per level, as ImmediateRecursion keeps on one thread,
// runs out of descriptors long before the bottom: the one directory it
// cannot open is reported as such, and every level above it is counted.
[[noreturn]] void WalkImmediateOnOneThread() {
  ::setenv("PACKHOUND_THREADS", "1", 1);
  if (read_ahead::Enabled()) std::_Exit(3);
  const LowLimitWalk walk = WalkADeepTreeUnderALowDescriptorLimit(ImmediateRecursion);
  std::fprintf(stderr, "examined %u, warnings: %s\n", walk.examined, walk.warnings.c_str());
  const std::string prefix = "Packhound: Cannot search " + walk.root + "/";
  const std::string reason = ": too many open files.\n";
  const std::string& text = walk.warnings;
  if (text.rfind(prefix, 0) != 0 || text.find('\n') != text.size() - 1 ||
      text.size() < prefix.size() + reason.size() ||
      text.compare(text.size() - reason.size(), reason.size(), reason) != 0) {
    std::_Exit(1);
  }
  // d/d/.../d, one d a level: each level above the refused one holds one file.
  const std::string refused =
      text.substr(prefix.size(), text.size() - prefix.size() - reason.size());
  std::string levels = "d";
  while (levels.size() < refused.size()) levels += "/d";
  std::_Exit(refused == levels && walk.examined == refused.size() / 2 ? 0 : 1);
}

// The read-ahead's ImmediateRecursion is left out: how many levels it holds
// open depends on whether a worker has read each one to its end by the time
// the walk goes deeper.
TEST(FindFilesTest, AVeryDeepTreeIsSearchedWholeUnderALowDescriptorLimit) {
  // A child process of its own, started afresh: nothing of the read-ahead's
  // threads is copied into it.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(WalkQueued(), ::testing::ExitedWithCode(0), "examined 400, warnings: \n");
  EXPECT_EXIT(WalkImmediateOnOneThread(), ::testing::ExitedWithCode(0), "examined [0-9]+");
}

// Permission bits do not stop root: a test of them that runs as root becomes
// nobody, in the child process it runs in, and root again to clean up.
void BecomeOrdinaryUser() {
  if (::geteuid() != 0) return;
  if (::setgroups(0, nullptr) != 0 || ::setresgid(65534, 65534, 0) != 0 ||
      ::setresuid(65534, 65534, 0) != 0) {
    std::fprintf(stderr, "cannot become nobody: %s\n", std::strerror(errno));
    std::_Exit(3);
  }
}

void BecomeRootAgain() {
  if (::getuid() != 65534 || ::setresuid(0, 0, 0) == 0) return;
  std::fprintf(stderr, "cannot become root again: %s\n", std::strerror(errno));
  std::_Exit(3);
}

// Each search as one line: its name, then the names it listed or the error
// that refused it.
std::string Outcome(const char* name, const std::string& specification) {
  std::string outcome = std::string(name) + ":";
  WIN32_FIND_DATAA record;
  const HANDLE handle = FindFirstFileA(specification.c_str(), &record);
  if (handle == INVALID_HANDLE_VALUE) return outcome + " error " + std::to_string(GetLastError());
  do {
    outcome += std::string(" ") + record.cFileName;
  } while (FindNextFileA(handle, &record));
  FindClose(handle);
  return outcome;
}

[[noreturn]] void SearchWithoutSearchRights() {
  int failures = 0;
  DWORD examined = 0;
  {
    FindTree tree;
    ::chmod(tree.Path().c_str(), 0755);  // nobody must reach what is inside
    tree.File("top");
    tree.Dir("listonly");
    tree.File("listonly/hidden");
    tree.Dir("listonly/deeper");
    tree.File("listonly/deeper/buried");
    ::chmod(tree.Path("listonly").c_str(), 0444);
    tree.Dir("emptylistonly", 0444);
    tree.Dir("closed", 0);
    BecomeOrdinaryUser();
    const std::string refused = " error " + std::to_string(ERROR_ACCESS_DENIED);
    const struct {
      const char* name;
      std::string search;
      std::string outcome;
    } cases[] = {
        {"entries that cannot be looked at", tree.Path("listonly/*"), refused},
        {"none of them matching", tree.Path("listonly/*.none"),
         " error " + std::to_string(ERROR_FILE_NOT_FOUND)},
        {"nothing to look at but the dots", tree.Path("emptylistonly/*"), " . .."},
        {"no right to list", tree.Path("closed/*"), refused},
    };
    for (const auto& c : cases) {
      const std::string outcome = Outcome(c.name, c.search);
      if (outcome == c.name + std::string(":") + c.outcome) continue;
      std::fprintf(stderr, "%s (expected%s)\n", outcome.c_str(), c.outcome.c_str());
      ++failures;
    }
    examined = ExaminedBelow(tree.Path(), QueuedRecursion);
    BecomeRootAgain();
  }
  std::fprintf(stderr, "failures %d, examined %u\n", failures, examined);
  std::_Exit(failures == 0 && examined == 1 ? 0 : 1);
}

// Without search permission no entry can be looked at: the directory is
// refused as a whole rather than listed as if empty.
TEST(FindFilesTest, ADirectoryThatCanBeListedButNotSearchedIsRefusedAsAWhole) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(SearchWithoutSearchRights(), ::testing::ExitedWithCode(0), "failures 0, examined 1");
}

// "." and ".." come after every other entry, so that the first entry a
// search answers has been looked at. An entry gone by the time it is looked
// at is a race, not a failure of the directory, and is left out. On one
// thread each entry is looked at as it is handed out; the read-ahead looks
// at a whole batch before it hands out the first entry, so that an entry
// gone after that is still listed as it was.
TEST(FindFilesTest, TheDotsComeLastAndAnEntryGoneSinceTheListingIsLeftOut) {
  FindTree tree;
  std::vector<std::string> files;
  for (int i = 0; i < 20; ++i) {
    files.push_back("f" + std::to_string(i));
    tree.File(files.back());
  }
  const std::vector<std::string> all = Names(List(tree.Path("*")));
  ASSERT_EQ(all.size(), files.size() + 2);
  EXPECT_EQ(std::vector<std::string>(all.end() - 2, all.end()),
            (std::vector<std::string>{".", ".."}));

  // Every entry but the first vanishes before statx looks at it.
  {
    const system_calls::ScopedFailure vanished(system_calls::Call::kStatx, 1, ENOENT, 1000);
    EXPECT_EQ(Names(List(tree.Path("*"))), (std::vector<std::string>{all.front(), ".", ".."}));
  }
  // The same for real: every file but the first goes once the first is handed out.
  WIN32_FIND_DATAA record;
  const HANDLE handle = FindFirstFileA(tree.Path("*").c_str(), &record);
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  ASSERT_EQ(record.cFileName, all.front());
  for (const std::string& file : files) {
    if (file != all.front()) {
      EXPECT_EQ(::unlink(tree.Path(file).c_str()), 0);
    }
  }
  std::vector<std::string> rest;
  while (FindNextFileA(handle, &record)) rest.emplace_back(record.cFileName);
  EXPECT_EQ(GetLastError(), ERROR_NO_MORE_FILES);
  EXPECT_TRUE(FindClose(handle));
  const std::vector<std::string> expected =
      read_ahead::Enabled() ? std::vector<std::string>(all.begin() + 1, all.end())
                            : std::vector<std::string>{".", ".."};
  EXPECT_EQ(rest, expected);
}

}  // namespace
