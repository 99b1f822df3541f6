#include "find/compressed_file_finder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <iostream>
#include <streambuf>
#include <string>
#include <vector>

#include "find/hresult_exception.h"
#include "find/search_tally.h"
#include "tests/support/failing_allocator.h"
#include "tests/support/fake_find.h"

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

// Takes the place of standard output's buffer while it lives: keeps what is
// written in room reserved up front (no allocation while a search runs) and
// counts the flushes.
class CapturedOutput : public std::streambuf {
 public:
  CapturedOutput() : previous(std::cout.rdbuf(this)) { setp(room, room + sizeof room); }
  ~CapturedOutput() override { std::cout.rdbuf(previous); }
  CapturedOutput(const CapturedOutput&) = delete;
  CapturedOutput& operator=(const CapturedOutput&) = delete;

  std::string Text() const { return std::string(pbase(), pptr()); }
  std::vector<std::string> Lines() const {
    std::vector<std::string> lines;
    const std::string text = Text();
    for (std::size_t start = 0; start < text.size();) {
      const std::size_t end = text.find('\n', start);
      lines.push_back(text.substr(start, end - start));
      start = end == std::string::npos ? text.size() : end + 1;
    }
    return lines;
  }
  int Flushes() const { return flushes; }
  // The text written since the last flush, which nobody would see yet.
  std::size_t Unflushed() const { return static_cast<std::size_t>(pptr() - pbase()) - flushed; }

 protected:
  int sync() override {
    ++flushes;
    flushed = static_cast<std::size_t>(pptr() - pbase());
    return 0;
  }
  int_type overflow(int_type) override { return traits_type::eof(); }  // room ran out

 private:
  std::streambuf* previous;
  char room[1 << 16];
  int flushes = 0;
  std::size_t flushed = 0;
};

class CompressedFileFinderTest : public ::testing::Test {
 protected:
  void SetUp() override { searchTally = SearchTally{}; }
  void TearDown() override { searchTally = SearchTally{}; }

  bool Search(const char* directory, int mode = QueuedRecursion) {
    CompressedFileFinder finder(directory, "*.*");
    finder.SetRecursionMode(mode);
    return finder.Run();
  }

  FakeFind fake;
  CapturedOutput output;
};

const DWORD kCompressed = FILE_ATTRIBUTE_COMPRESSED;

struct StartCase {
  const char* name;
  std::string directory;
  std::string line;
};

TEST_F(CompressedFileFinderTest, ACompressedFileIsCountedAndListedUnderTheStartingDirectory) {
  const std::string sep(1, kPathSeparator);
  const StartCase cases[] = {
      {"current directory", ".", "." + sep + "x.txt"},
      {"root with a trailing separator", "D:" + sep, "D:" + sep + "x.txt"},
      {"bare drive", "D:", "D:" + sep + "x.txt"},
  };
  for (const StartCase& c : cases) {
    SCOPED_TRACE(c.name);
    FakeFind local;
    local.AddDirectory(c.directory,
                       {FakeDirectory("."), FakeDirectory(".."), FakeFile("x.txt", kCompressed)});
    CapturedOutput captured;
    searchTally = SearchTally{};
    EXPECT_TRUE(Search(c.directory.c_str()));
    EXPECT_EQ(searchTally.foundCount, 1);
    EXPECT_EQ(searchTally.examinedCount, 1u);
    EXPECT_EQ(captured.Text(), c.line + "\n");
  }
}

// ".": compressed c.txt, plain p.txt, subdirectory S with compressed y.txt and
// plain q.txt, and subdirectory E that cannot be opened.
void AddMixedTree(FakeFind& fake) {
  fake.AddDirectory(".", {FakeDirectory("."), FakeDirectory(".."), FakeFile("c.txt", kCompressed),
                          FakeDirectory("S"), FakeFile("p.txt"), FakeDirectory("E")});
  fake.AddDirectory(PlatformPath({".", "S"}),
                    {FakeDirectory("."), FakeDirectory(".."), FakeFile("y.txt", kCompressed),
                     FakeFile("q.txt", FILE_ATTRIBUTE_ARCHIVE)});
}

struct SoughtCase {
  const char* name;
  bool searchUncompressed;
  std::vector<std::string> lines;
};

TEST_F(CompressedFileFinderTest, FilesWhoseBitMatchesTheSoughtStateAreCountedAndListed) {
  AddMixedTree(fake);
  const SoughtCase cases[] = {
      {"compressed files",
       false,
       {PlatformPath({".", "c.txt"}), PlatformPath({".", "S", "y.txt"})}},
      {"uncompressed files",
       true,
       {PlatformPath({".", "p.txt"}), PlatformPath({".", "S", "q.txt"})}},
  };
  for (const SoughtCase& c : cases) {
    SCOPED_TRACE(c.name);
    CapturedOutput captured;
    searchTally = SearchTally{};
    searchTally.searchUncompressed = c.searchUncompressed;
    EXPECT_TRUE(Search("."));
    EXPECT_EQ(searchTally.examinedCount, 4u) << "directories, dots included, never count";
    EXPECT_EQ(searchTally.foundCount, 2);
    EXPECT_EQ(captured.Lines(), c.lines);
    EXPECT_EQ(captured.Flushes(), 2) << "each line is flushed on its own";
    EXPECT_EQ(captured.Unflushed(), 0u);
  }
}

TEST_F(CompressedFileFinderTest, WithoutListingTheCountsAreTheSameAndNothingIsWritten) {
  AddMixedTree(fake);
  searchTally.listFiles = false;
  EXPECT_TRUE(Search("."));
  EXPECT_EQ(searchTally.examinedCount, 4u);
  EXPECT_EQ(searchTally.foundCount, 2);
  EXPECT_EQ(output.Text(), "");
  EXPECT_EQ(output.Flushes(), 0);
}

TEST_F(CompressedFileFinderTest, NoRecursionCountsOnlyTheStartingDirectory) {
  AddMixedTree(fake);
  EXPECT_TRUE(Search(".", NoRecursion));
  EXPECT_EQ(searchTally.examinedCount, 2u);
  EXPECT_EQ(searchTally.foundCount, 1);
  EXPECT_THAT(output.Lines(), ElementsAre(PlatformPath({".", "c.txt"})));
}

TEST_F(CompressedFileFinderTest, ATreeWithoutAMatchFindsNothing) {
  fake.AddDirectory(".", {FakeFile("a"), FakeFile("b", FILE_ATTRIBUTE_HIDDEN)});
  EXPECT_TRUE(Search("."));
  EXPECT_EQ(searchTally.foundCount, 0);
  EXPECT_EQ(searchTally.examinedCount, 2u);
  EXPECT_THAT(output.Lines(), IsEmpty());
}

TEST_F(CompressedFileFinderTest, AStartingDirectoryThatCannotBeOpenedCountsNothing) {
  EXPECT_TRUE(Search("missing"));
  EXPECT_EQ(searchTally.foundCount, 0);
  EXPECT_EQ(searchTally.examinedCount, 0u);
  EXPECT_EQ(output.Text(), "");
}

TEST_F(CompressedFileFinderTest, LaterFilesOfADirectoryAreListedUnderItAfterASubdirectory) {
  // ImmediateRecursion reports b after S has been left.
  fake.AddDirectory(".",
                    {FakeFile("a", kCompressed), FakeDirectory("S"), FakeFile("b", kCompressed)});
  fake.AddDirectory(PlatformPath({".", "S"}), {FakeFile("d", kCompressed)});
  EXPECT_TRUE(Search(".", ImmediateRecursion));
  EXPECT_THAT(output.Lines(), ElementsAre(PlatformPath({".", "a"}), PlatformPath({".", "S", "d"}),
                                          PlatformPath({".", "b"})));
}

TEST_F(CompressedFileFinderTest, ChildrenAreCompressedFileFindersReportingToTheTopLevelTally) {
  CompressedFileFinder finder(".", "*.x");
  DirectoryFinder* child = finder.CreateChild("sub", "*.x");
  ASSERT_NE(child, nullptr);
  EXPECT_NE(dynamic_cast<CompressedFileFinder*>(child), nullptr);
  delete child;
}

// Fails each allocation of a whole search in turn: each failure ends the
// search with E_OUTOFMEMORY, and what was written up to then is a beginning
// of the full listing, never a line under a path that could not be copied.
TEST_F(CompressedFileFinderTest, EveryAllocationFailureRaisesOutOfMemoryAndNoWrongLine) {
  std::string full;
  {
    FakeFind local;
    AddMixedTree(local);
    CapturedOutput captured;
    EXPECT_TRUE(Search("."));
    full = captured.Text();
  }
  ASSERT_EQ(full, PlatformPath({".", "c.txt"}) + "\n" + PlatformPath({".", "S", "y.txt"}) + "\n");

  int failingRuns = 0;
  for (std::int64_t failing = 0;; ++failing) {
    FakeFind local;
    AddMixedTree(local);
    CapturedOutput captured;
    searchTally = SearchTally{};
    bool raised = false;
    bool failed = false;
    {
      failing_allocator::Scope scope(failing, 1);
      try {
        Search(".");
      } catch (const HResultException& e) {
        raised = e.GetResult() == E_OUTOFMEMORY;
      }
      failed = scope.Failures() > 0;
    }
    if (!failed) break;
    ++failingRuns;
    SCOPED_TRACE("allocation " + std::to_string(failing) + " failing");
    EXPECT_TRUE(raised);
    const std::string text = captured.Text();
    EXPECT_EQ(full.compare(0, text.size(), text), 0) << text;
    EXPECT_EQ(static_cast<std::size_t>(searchTally.foundCount), captured.Lines().size());
  }
  EXPECT_GE(failingRuns, 5);
}

}  // namespace
