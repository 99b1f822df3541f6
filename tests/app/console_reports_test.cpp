#include "app/console_reports.h"

#include "app/command_line.h"

#include <gtest/gtest.h>

#include <array>
#include <string>

#include "find/search_tally.h"
#include "platform/port.h"
#include "tests/support/stream_capture.h"
#include "tests/support/usage_text.h"

namespace {

class ConsoleReportsTest : public testing::Test {
 protected:
  void SetUp() override { searchTally = SearchTally(); }
  void TearDown() override { searchTally = SearchTally(); }
};

TEST_F(ConsoleReportsTest, UsageTextIsTheFourteenLinesOfTheTable) {
  RunFlags flags;
  const std::array<OptionEntry, kOptionCount> table = MakeOptionTable(flags);
  StreamCapture out(std::cout);
  ShowUsage(table.data(), kOptionCount);
  // This test binary carries the same version resource as the tool.
  EXPECT_EQ(out.Text(), kUsageText);
}

TEST_F(ConsoleReportsTest, UsageShowsOnForARowThatIsOnByDefault) {
  bool flag = false;
  const OptionEntry table[1] = {{"zz", &flag, true, "Something."}};
  StreamCapture out(std::cout);
  ShowUsage(table, 1);
  EXPECT_NE(out.Text().find("     zz\t\tSomething. (Default: ON)\n"), std::string::npos);
}

TEST_F(ConsoleReportsTest, HeaderNamesTheSearch) {
  const struct {
    bool recursive;
    const char* path;
    bool uncompressed;
    const char* line;
  } rows[] = {
      {true, ".", false, "Recursive search of . for compressed files.\n"},
      {false, "D:\\data", true, "Nonrecursive search of D:\\data for uncompressed files.\n"},
      {true, "", false, "Recursive search of  for compressed files.\n"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.line);
    StreamCapture out(std::cout);
    ShowHeader(row.recursive, row.path, row.uncompressed);
    EXPECT_EQ(out.Text(), row.line);
  }
}

TEST_F(ConsoleReportsTest, SummaryReadsTheTallyAndEndsWithASpace) {
  const struct {
    LONG found;
    DWORD examined;
    bool uncompressed;
    const char* line;
  } rows[] = {
      {3, 120, false, "Found 3 compressed files in 120 items examined. \n"},
      {3, 120, true, "Found 3 uncompressed files in 120 items examined. \n"},
      {0, 0, false, "Found 0 compressed files in 0 items examined. \n"},
      {1, 1, false, "Found 1 compressed files in 1 items examined. \n"},
      {2147483647, 4294967295U, false,
       "Found 2147483647 compressed files in 4294967295 items examined. \n"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.line);
    searchTally.foundCount = row.found;
    searchTally.examinedCount = row.examined;
    searchTally.searchUncompressed = row.uncompressed;
    StreamCapture out(std::cout);
    ShowSummary();
    EXPECT_EQ(out.Text(), row.line);
  }
}

// The closing lines go to standard error, after the summary, in one order,
// each only for what happened.
TEST_F(ConsoleReportsTest, ClosingLinesGoToStandardErrorInTheirOrder) {
  const std::string judged =
      "Packhound: 2 files could not be opened; their attribute alone was used.\n";
  const std::string mounts =
      kMountsCanBeSearched
          ? "Packhound: 3 mount points were not searched (the first: m); --mounts searches them.\n"
          : "";
  const std::string hint =
      "Packhound: btrfs compresses files here by its compress mount option, which sets no "
      "attribute; --extents finds them.\n";
  const struct {
    const char* name;
    unsigned long long judged;
    DWORD mounts;
    bool hint;
    std::string err;
  } rows[] = {
      {"nothing to say", 0, 0, false, ""},
      {"the hint alone", 0, 0, true, hint},
      {"all three", 2, 3, true, judged + mounts + hint},
      {"one mount point", 0, 1, false,
       kMountsCanBeSearched
           ? "Packhound: 1 mount point was not searched (m); --mounts searches it.\n"
           : ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    searchTally.judgedByAttributeCount = row.judged;
    searchTally.mountPointCount = row.mounts;
    searchTally.firstMountPoint = "m";
    StreamCapture out(std::cout);
    StreamCapture err(std::cerr);
    ShowClosingLines(row.hint);
    EXPECT_EQ(err.Text(), row.err);
    EXPECT_EQ(out.Text(), "");
  }
}

}  // namespace
