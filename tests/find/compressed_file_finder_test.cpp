#include "find/compressed_file_finder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <iostream>
#include <streambuf>
#include <string>

#include "find/search_tally.h"
#include "tests/support/failing_allocator.h"
#include "tests/support/fake_find.h"
#include "tests/support/out_of_memory.h"

namespace {

// Standard output's buffer while it lives: keeps the text in room reserved up
// front (no allocation while a search runs) and counts the flushes.
class CapturedOutput : public std::streambuf {
 public:
  CapturedOutput() : previous(std::cout.rdbuf(this)) { setp(room, room + sizeof room); }
  ~CapturedOutput() override { std::cout.rdbuf(previous); }
  CapturedOutput(const CapturedOutput&) = delete;
  CapturedOutput& operator=(const CapturedOutput&) = delete;

  std::string Text() const { return std::string(pbase(), pptr()); }
  std::string Flushed() const { return std::string(pbase(), pbase() + flushedLength); }
  int flushes = 0;
  int pieces = 0;  // texts handed over whole, as a file buffer would write them

 protected:
  std::streamsize xsputn(const char* text, std::streamsize count) override {
    ++pieces;
    return std::streambuf::xsputn(text, count);
  }
  int sync() override {
    ++flushes;
    flushedLength = static_cast<std::size_t>(pptr() - pbase());
    return 0;
  }

 private:
  std::streambuf* previous;
  char room[1 << 16];
  std::size_t flushedLength = 0;
};

const DWORD kCompressed = FILE_ATTRIBUTE_COMPRESSED;

std::string Lines(std::initializer_list<std::string> lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

class CompressedFileFinderTest : public ::testing::Test {
 protected:
  void SetUp() override { searchTally = SearchTally{}; }
  void TearDown() override { searchTally = SearchTally{}; }

  static bool Search(const char* directory, int mode = QueuedRecursion) {
    CompressedFileFinder finder(directory, "*.*");
    finder.SetRecursionMode(mode);
    return finder.Run();
  }

  FakeFind fake;
  CapturedOutput output;
};

TEST_F(CompressedFileFinderTest, ACompressedFileIsCountedAndListedUnderTheStartingDirectory) {
  const std::string sep(1, kPathSeparator);
  const struct {
    std::string directory;
    std::string line;
  } cases[] = {
      {".", "." + sep + "x.txt\n"},
      {"D:" + sep, "D:" + sep + "x.txt\n"},  // no second separator
      {"D:", "D:" + sep + "x.txt\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.directory);
    FakeFind local;
    local.AddDirectory(c.directory,
                       {FakeDirectory("."), FakeDirectory(".."), FakeFile("x.txt", kCompressed)});
    CapturedOutput captured;
    searchTally = SearchTally{};
    EXPECT_TRUE(Search(c.directory.c_str()));
    EXPECT_EQ(searchTally.foundCount, 1);
    EXPECT_EQ(searchTally.examinedCount, 1u);
    EXPECT_EQ(captured.Text(), c.line);
  }
}

// ".": compressed c.txt, subdirectory S (compressed y.txt, plain q.txt),
// plain p.txt, and subdirectory E in which nothing matches (no warning).
void AddMixedTree(FakeFind& fake) {
  fake.AddDirectory(".", {FakeDirectory("."), FakeDirectory(".."), FakeFile("c.txt", kCompressed),
                          FakeDirectory("S"), FakeFile("p.txt"), FakeDirectory("E")});
  fake.AddDirectory(PlatformPath({".", "S"}),
                    {FakeDirectory("."), FakeDirectory(".."), FakeFile("y.txt", kCompressed),
                     FakeFile("q.txt", FILE_ATTRIBUTE_ARCHIVE)});
  fake.AddUnopenableDirectory(PlatformPath({".", "E"}), ERROR_FILE_NOT_FOUND);
}

TEST_F(CompressedFileFinderTest, FilesWhoseBitMatchesTheSoughtStateAreCountedAndListedLineByLine) {
  AddMixedTree(fake);
  for (const bool uncompressed : {false, true}) {
    SCOPED_TRACE(uncompressed ? "uncompressed files" : "compressed files");
    CapturedOutput captured;
    searchTally = SearchTally{};
    searchTally.searchUncompressed = uncompressed;
    EXPECT_TRUE(Search("."));
    EXPECT_EQ(searchTally.examinedCount, 4u) << "directories, dots included, never count";
    EXPECT_EQ(searchTally.foundCount, 2);
    EXPECT_EQ(captured.Text(),
              uncompressed
                  ? Lines({PlatformPath({".", "p.txt"}), PlatformPath({".", "S", "q.txt"})})
                  : Lines({PlatformPath({".", "c.txt"}), PlatformPath({".", "S", "y.txt"})}));
    EXPECT_EQ(captured.flushes, 2) << "one flush per line";
    EXPECT_EQ(captured.Flushed(), captured.Text());
  }
}

TEST_F(CompressedFileFinderTest, ALineIsWholeAndFlushedOnceHoweverLongItsDirectory) {
  const std::string ordinary = PlatformPath({".", "sub"});
  const std::string longest = PlatformPath({".", std::string(9000, 'd').c_str()});
  for (const std::string& directory : {ordinary, longest}) {
    SCOPED_TRACE(directory.size());
    CapturedOutput captured;
    CompressedFileFinder finder(directory.c_str(), "*.*");
    FindDataItem item;
    item.record.dwFileAttributes = kCompressed;
    finder.SetFoundItem(item);
    EXPECT_TRUE(finder.OnFile("a"));
    EXPECT_TRUE(finder.OnFile("b"));
    EXPECT_EQ(captured.Text(), Lines({PlatformPath({directory.c_str(), "a"}),
                                      PlatformPath({directory.c_str(), "b"})}));
    EXPECT_EQ(captured.flushes, 2);
    EXPECT_EQ(captured.Flushed(), captured.Text());
    // A line of ordinary length reaches the stream in one piece, so that a
    // file buffer writes it with one call.
    if (directory == ordinary) {
      EXPECT_EQ(captured.pieces, 2);
    }
  }
}

TEST_F(CompressedFileFinderTest, WithoutListingTheCountsAreTheSameAndNothingIsWritten) {
  AddMixedTree(fake);
  searchTally.listFiles = false;
  EXPECT_TRUE(Search("."));
  EXPECT_EQ(searchTally.examinedCount, 4u);
  EXPECT_EQ(searchTally.foundCount, 2);
  EXPECT_EQ(output.Text(), "");
  EXPECT_EQ(output.flushes, 0);
}

TEST_F(CompressedFileFinderTest, LaterFilesOfADirectoryAreListedUnderItAfterASubdirectory) {
  // ImmediateRecursion reports b after S has been left.
  fake.AddDirectory(".",
                    {FakeFile("a", kCompressed), FakeDirectory("S"), FakeFile("b", kCompressed)});
  fake.AddDirectory(PlatformPath({".", "S"}), {FakeFile("d", kCompressed)});
  EXPECT_TRUE(Search(".", ImmediateRecursion));
  EXPECT_EQ(output.Text(), Lines({PlatformPath({".", "a"}), PlatformPath({".", "S", "d"}),
                                  PlatformPath({".", "b"})}));
}

// Once a subdirectory is left, the files of the directory that holds it are
// listed under that directory again, as its finder joins its entries; going
// back allocates nothing, so that no shortage of memory can lose the way.
TEST_F(CompressedFileFinderTest, LeavingADirectoryListsLaterFilesUnderTheOneThatHoldsIt) {
  const std::string sep(1, kPathSeparator);
  const struct {
    const char* name;
    std::string path;
    std::string line;  // of a file b reported after the path was left
  } rows[] = {
      {"below a relative directory", PlatformPath({".", "S"}), PlatformPath({".", "b"})},
      {"below a drive", PlatformPath({"D:", "S"}), PlatformPath({"D:", "b"})},
      {"below the root", sep + "S", sep + "b"},
      {"below a directory ending in two separators", PlatformPath({"D:", "", "S"}),
       PlatformPath({"D:", "", "b"})},
      {"two levels down", PlatformPath({".", "S", "T"}), PlatformPath({".", "S", "b"})},
      {"ending in a separator", PlatformPath({".", "S", ""}), PlatformPath({".", "S", "b"})},
      {"without a separator", "S", sep + "b"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    CapturedOutput captured;
    CompressedFileFinder finder(".", "*.*");
    FindDataItem item;
    item.record.dwFileAttributes = kCompressed;
    finder.SetFoundItem(item);
    EXPECT_TRUE(finder.OnEnterDirectory(row.path.c_str()));
    EXPECT_TRUE(finder.OnFile("a"));
    {
      failing_allocator::FailAll noMemory;
      EXPECT_NO_THROW(EXPECT_TRUE(finder.OnLeaveDirectory(row.path.c_str())));
    }
    EXPECT_TRUE(finder.OnFile("b"));
    const std::string entered = row.path.back() == kPathSeparator ? row.path : row.path + sep;
    EXPECT_EQ(captured.Text(), Lines({entered + "a", row.line}));
  }
}

// Each allocation of a whole search fails in turn: each failure ends it with
// E_OUTOFMEMORY, and what was written until then is a beginning of the full
// listing, never a line under a path that could not be copied.
TEST_F(CompressedFileFinderTest, EveryAllocationFailureRaisesOutOfMemoryAndNoWrongLine) {
  const std::string full = Lines({PlatformPath({".", "c.txt"}), PlatformPath({".", "S", "y.txt"})});
  int failingRuns = 0;
  for (std::int64_t failing = 0;; ++failing, ++failingRuns) {
    FakeFind local;
    AddMixedTree(local);
    CapturedOutput captured;
    searchTally = SearchTally{};
    const FailureOutcome outcome = RunWithFailingAllocation(failing, [] { Search("."); });
    if (!outcome.failed) {
      EXPECT_EQ(captured.Text(), full);
      break;
    }
    SCOPED_TRACE("allocation " + std::to_string(failing) + " failing");
    EXPECT_TRUE(outcome.raisedOutOfMemory);
    EXPECT_EQ(full.compare(0, captured.Text().size(), captured.Text()), 0) << captured.Text();
  }
  EXPECT_GE(failingRuns, 5);
}

}  // namespace
