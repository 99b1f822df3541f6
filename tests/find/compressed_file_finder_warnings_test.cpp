// The program's own finder and the directories it cannot search: one warning
// line each on standard error, the walk going on as if they were empty, and
// the starting directory's failure to open left to the caller.
#include "find/compressed_file_finder.h"

#include <gtest/gtest.h>

#include <iostream>
#include <string>

#include "find/search_tally.h"
#include "tests/support/fake_find.h"
#include "tests/support/stream_capture.h"

namespace {

const DWORD kCompressed = FILE_ATTRIBUTE_COMPRESSED;
const std::string kS = PlatformPath({".", "S"});
const std::string kT = PlatformPath({".", "T"});

std::string Warning(const std::string& path, const std::string& reason) {
  return "Packhound: Cannot search " + path + ": " + reason + ".\n";
}

class CompressedFileFinderWarningsTest : public ::testing::Test {
 protected:
  void SetUp() override { searchTally = SearchTally{}; }
  void TearDown() override { searchTally = SearchTally{}; }

  // ".": compressed a, subdirectory S as the case adds it, subdirectory T
  // holding compressed t. Searches "." and answers what Run answers.
  bool Search(FakeFind& fake) {
    fake.AddDirectory(".", {FakeDirectory("."), FakeDirectory(".."), FakeFile("a", kCompressed),
                            FakeDirectory("S"), FakeDirectory("T")});
    fake.AddDirectory(kT, {FakeFile("t", kCompressed)});
    CompressedFileFinder finder(".", "*.*");
    return finder.Run();
  }

  // What the search above lists whatever becomes of S.
  const std::string listing =
      PlatformPath({".", "a"}) + "\n" + PlatformPath({".", "T", "t"}) + "\n";
  StreamCapture out{std::cout};
  StreamCapture err{std::cerr};
};

TEST_F(CompressedFileFinderWarningsTest, ASubdirectoryThatCannotBeOpenedIsReportedWithItsReason) {
  const struct {
    const char* name;
    DWORD error;
    std::string reason;  // empty: nothing to report
  } rows[] = {
      {"access denied", ERROR_ACCESS_DENIED, "access denied"},
      {"gone", ERROR_PATH_NOT_FOUND, "no such directory"},
      {"not a directory", ERROR_DIRECTORY, "not a directory"},
      {"path too long", ERROR_FILENAME_EXCED_RANGE, "path too long"},
      {"invalid path", ERROR_INVALID_NAME, "invalid path"},
      {"too many open files", ERROR_TOO_MANY_OPEN_FILES, "too many open files"},
      {"an error without words", 1234, "system error 1234"},
      {"the largest error number", 0xFFFFFFFFu, "system error 4294967295"},
      {"nothing matches", ERROR_FILE_NOT_FOUND, ""},
      {"nothing to list", ERROR_NO_MORE_FILES, ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    FakeFind fake;
    fake.AddUnopenableDirectory(kS, row.error);
    StreamCapture rowOut(std::cout);
    StreamCapture rowErr(std::cerr);
    searchTally = SearchTally{};
    EXPECT_TRUE(Search(fake)) << "the walk goes on";
    EXPECT_EQ(rowOut.Text(), listing);
    EXPECT_EQ(rowErr.Text(), row.reason.empty() ? "" : Warning(kS, row.reason));
    EXPECT_EQ(searchTally.foundCount, 2);
    EXPECT_EQ(searchTally.examinedCount, 2u);
  }
}

// What a listing gave before it failed stays counted and listed; the warning
// follows it, and the starting directory's own listing is no exception.
TEST_F(CompressedFileFinderWarningsTest, AListingThatFailsPartWayIsReportedAfterWhatItGave) {
  FakeFind fake;
  fake.AddDirectory(kS, {FakeFile("s", kCompressed)}, ERROR_ACCESS_DENIED);
  EXPECT_TRUE(Search(fake));
  EXPECT_EQ(out.Text(), PlatformPath({".", "a"}) + "\n" + PlatformPath({".", "S", "s"}) + "\n" +
                            PlatformPath({".", "T", "t"}) + "\n");
  EXPECT_EQ(err.Text(), Warning(kS, "access denied"));

  FakeFind top;
  top.AddDirectory(".", {FakeFile("a", kCompressed), FakeDirectory("T")},
                   ERROR_TOO_MANY_OPEN_FILES);
  top.AddDirectory(kT, {FakeFile("t", kCompressed)});
  StreamCapture topOut(std::cout);
  StreamCapture topErr(std::cerr);
  CompressedFileFinder finder(".", "*.*");
  EXPECT_TRUE(finder.Run());
  EXPECT_EQ(topOut.Text(), listing);
  EXPECT_EQ(topErr.Text(), Warning(".", "too many open files"));
  EXPECT_EQ(finder.GetSearchError(), static_cast<DWORD>(ERROR_TOO_MANY_OPEN_FILES));
}

// Only the caller knows what a starting directory that cannot be searched
// means for the run: the finder says nothing and keeps the reason.
TEST_F(CompressedFileFinderWarningsTest, TheStartingDirectorysFailureToOpenIsLeftToTheCaller) {
  for (const DWORD error : {ERROR_ACCESS_DENIED, ERROR_PATH_NOT_FOUND, ERROR_FILE_NOT_FOUND}) {
    SCOPED_TRACE(error);
    FakeFind fake;
    fake.AddUnopenableDirectory(".", error);
    CompressedFileFinder finder(".", "*.*");
    EXPECT_FALSE(finder.FindFirst());
    EXPECT_EQ(finder.GetSearchError(), error);
  }
  EXPECT_EQ(out.Text(), "");
  EXPECT_EQ(err.Text(), "");
}

}  // namespace
