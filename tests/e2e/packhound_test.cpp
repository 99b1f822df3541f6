// Runs the built packhound as a user would, in temporary trees on the real
// file system, and compares what it prints and its exit status exactly.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/port.h"
#include "platform/win32.h"
#include "tests/e2e/tree_run_test.h"
#include "tests/support/output_lines.h"
#include "tests/support/usage_text.h"

namespace {

namespace fs = std::filesystem;

const int kErrorStatus = PortExitStatus(-1);
const std::string kSeparator(1, kPathSeparator);

std::string Joined(std::initializer_list<const char*> parts) {
  std::string path;
  for (const char* part : parts) path += (path.empty() ? "" : kSeparator) + part;
  return path;
}

// The tree the cases search:
//   a.txt  b.txt
//   S/d.txt  S/e.txt  S/X/f.txt
//   T/ (empty)
void AddTheTree(const TempTree& tree) {
  for (const char* file : {"a.txt", "b.txt", "S/d.txt", "S/e.txt", "S/X/f.txt"}) {
    tree.AddFile(file);
  }
  tree.AddDirectory("T");
}

// Nothing in it compressed.
class PackhoundTest : public TreeRunTest {
 protected:
  PackhoundTest() { AddTheTree(tree); }
};

// a.txt, S/d.txt and S/X/f.txt compressed.
class PackhoundCompressedTest : public CompressedTreeRunTest {
 protected:
  PackhoundCompressedTest() : CompressedTreeRunTest({"a.txt", "S/d.txt", "S/X/f.txt"}) {
    AddTheTree(tree);
  }
};

TEST_F(PackhoundCompressedTest, NoArgumentsSearchesTheCurrentDirectoryRecursively) {
  const ProcessResult run = Run({});
  const std::vector<std::string> lines = OutputLines(run.out);
  ASSERT_EQ(lines.size(), 5u) << run.out;
  EXPECT_EQ(lines[0], "Recursive search of . for compressed files.");
  // A directory's own files come before anything of its subdirectories.
  EXPECT_EQ(lines[1], Joined({".", "a.txt"}));
  EXPECT_EQ(lines[2], Joined({".", "S", "d.txt"}));
  EXPECT_EQ(lines[3], Joined({".", "S", "X", "f.txt"}));
  EXPECT_EQ(lines[4], "Found 3 compressed files in 5 items examined. ");
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.exitStatus, 3);
}

TEST_F(PackhoundCompressedTest, UncompressedSearchListsTheOtherFiles) {
  const ProcessResult run = Run({"-su"});
  const std::vector<std::string> lines = OutputLines(run.out);
  ASSERT_EQ(lines.size(), 4u) << run.out;
  EXPECT_EQ(lines[0], "Recursive search of . for uncompressed files.");
  EXPECT_EQ(SortedLines({lines[1], lines[2]}),
            SortedLines({Joined({".", "b.txt"}), Joined({".", "S", "e.txt"})}));
  EXPECT_EQ(lines[3], "Found 2 uncompressed files in 5 items examined. ");
  EXPECT_EQ(run.exitStatus, 2);
}

TEST_F(PackhoundTest, LinesEndAsThePlatformEndsThem) {
  const ProcessResult run = Run({"-su", "-nr"});
  std::string expected;
  for (const std::string& line : OutputLines(run.out)) expected += line + kNativeLineEnd;
  EXPECT_EQ(run.rawOut, expected);
  EXPECT_EQ(OutputLines(run.out).size(), 4u);
}

TEST_F(PackhoundTest, WithNothingCompressedTheUncompressedSearchListsEveryFile) {
  const ProcessResult run = Run({"-su"});
  const std::vector<std::string> lines = OutputLines(run.out);
  ASSERT_EQ(lines.size(), 7u) << run.out;
  EXPECT_EQ(lines[0], "Recursive search of . for uncompressed files.");
  EXPECT_EQ(SortedLines({lines[1], lines[2]}),
            SortedLines({Joined({".", "a.txt"}), Joined({".", "b.txt"})}));
  EXPECT_EQ(SortedLines({lines[3], lines[4]}),
            SortedLines({Joined({".", "S", "d.txt"}), Joined({".", "S", "e.txt"})}));
  EXPECT_EQ(lines[5], Joined({".", "S", "X", "f.txt"}));
  EXPECT_EQ(lines[6], "Found 5 uncompressed files in 5 items examined. ");
  EXPECT_EQ(run.exitStatus, 5);
}

TEST_F(PackhoundTest, AUsageRequestWinsWhereverItStands) {
  const std::string withLongOptions = std::string(kUsageText) + kLongOptionsText;
  const struct {
    std::vector<std::string> arguments;
    std::string out;  // "--help" tells the long options too, when it is the request
  } rows[] = {
      {{"-u"}, kUsageText},
      {{"-U"}, kUsageText},
      {{"-?"}, kUsageText},
      {{"-usage"}, kUsageText},
      {{"-?x"}, kUsageText},
      {{"-bogus", "-u"}, kUsageText},
      {{"-ns", "-so", "-u"}, kUsageText},
      {{"-u", "-bogus"}, kUsageText},
      {{"somewhere", "-U"}, kUsageText},
      {{"-h"}, kUsageText},
      {{"-h", "-bogus"}, kUsageText},
      {{"nowhere", "-h"}, kUsageText},
      {{"-h", "--version"}, kUsageText},
      {{"-u", "--help"}, kUsageText},
      {{"--extents", "-u"}, kUsageText},
      {{"--help"}, withLongOptions},
      {{"-bogus", "--help"}, withLongOptions},
      {{"--version", "--help"}, withLongOptions},
      {{"--help", "-u"}, withLongOptions},
      {{"--extents", "--help"}, withLongOptions},
      {{"--null", "-u"}, kUsageText},
      {{"--help", "--null"}, withLongOptions},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.arguments.back());
    const ProcessResult run = Run(row.arguments);
    EXPECT_EQ(run.out, row.out);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.exitStatus, 0);
  }
}

// "--extents" is taken wherever it stands and with every other option. On a
// file system that stores no file compressed without the attribute (the
// test's folder, and any on Windows), the output is the output without it.
TEST_F(PackhoundCompressedTest, TheExtentsOptionIsTakenAnywhereAndChangesNothingHere) {
  const std::vector<std::vector<std::string>> commandLines = {
      {},
      {"-su"},
      {"-nr", "-nh"},
      {"-so"},
      {"-ns", "-su"},
      {"-fp", "S"},
      {"S", "-su", "-nr", "-nh", "-ns"},
  };
  for (const std::vector<std::string>& arguments : commandLines) {
    const ProcessResult plain = Run(arguments);
    for (std::size_t at = 0; at <= arguments.size(); ++at) {
      std::vector<std::string> withExtents = arguments;
      withExtents.insert(withExtents.begin() + static_cast<std::ptrdiff_t>(at), "--extents");
      SCOPED_TRACE(testing::PrintToString(withExtents));
      const ProcessResult run = Run(withExtents);
      EXPECT_EQ(run.out, plain.out);
      EXPECT_EQ(run.err, plain.err);
      EXPECT_EQ(run.exitStatus, plain.exitStatus);
    }
  }
}

TEST_F(PackhoundTest, AVersionRequestPrintsTheBannerAloneWhereverItStands) {
  const std::string banner = OutputLines(kUsageText).front() + "\n";
  const std::vector<std::vector<std::string>> commandLines = {
      {"--version"},
      {"-bogus", "--version"},
      {"--version", "-bogus"},
      {"-ns", "-so", "--version"},
      {"nowhere", "--version"},
  };
  for (const auto& arguments : commandLines) {
    SCOPED_TRACE(arguments.front());
    const ProcessResult run = Run(arguments);
    EXPECT_EQ(run.out, banner);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.exitStatus, 0);
  }
}

TEST_F(PackhoundCompressedTest, TheLaterOfTwoPathsIsSearched) {
  const ProcessResult run = Run({"T", "S", "-nh"});
  EXPECT_EQ(run.out, Joined({"S", "d.txt"}) + "\n" + Joined({"S", "X", "f.txt"}) +
                         "\nFound 2 compressed files in 3 items examined. \n");
  EXPECT_EQ(run.exitStatus, 2);
}

TEST_F(PackhoundCompressedTest, RecursionOptionTogglesAndTogglesBack) {
  const ProcessResult once = Run({"-nr"});
  EXPECT_EQ(once.out, "Nonrecursive search of . for compressed files.\n" + Joined({".", "a.txt"}) +
                          "\nFound 1 compressed files in 2 items examined. \n");
  EXPECT_EQ(once.exitStatus, 1);
  const ProcessResult twice = Run({"-nr", "-NR"});
  EXPECT_EQ(OutputLines(twice.out).front(), "Recursive search of . for compressed files.");
  EXPECT_EQ(twice.exitStatus, 3);
}

TEST_F(PackhoundCompressedTest, SummaryOnlyAndNoSummaryConflictUnlessToggledBack) {
  const ProcessResult conflict = Run({"-ns", "-so"});
  EXPECT_EQ(conflict.out, "");
  EXPECT_EQ(conflict.err,
            "Packhound: -so and -ns options are mutually exclusive; cannot continue.\n");
  EXPECT_EQ(conflict.exitStatus, kErrorStatus);

  const ProcessResult escaped = Run({"-ns", "-so", "-so"});
  const std::vector<std::string> lines = OutputLines(escaped.out);
  ASSERT_EQ(lines.size(), 4u) << escaped.out;
  EXPECT_EQ(lines[0], "Recursive search of . for compressed files.");
  EXPECT_EQ(lines[3], Joined({".", "S", "X", "f.txt"}));
  EXPECT_EQ(escaped.exitStatus, 3);
}

TEST_F(PackhoundCompressedTest, SummaryOnlyPrintsNoListing) {
  const ProcessResult run = Run({"-so"});
  EXPECT_EQ(run.out,
            "Recursive search of . for compressed files.\n"
            "Found 3 compressed files in 5 items examined. \n");
  EXPECT_EQ(run.exitStatus, 3);
}

TEST_F(PackhoundCompressedTest, NoHeaderAndNoSummaryLeaveOnlyTheListing) {
  const ProcessResult run = Run({"-nh", "-ns"});
  EXPECT_EQ(run.out, Joined({".", "a.txt"}) + "\n" + Joined({".", "S", "d.txt"}) + "\n" +
                         Joined({".", "S", "X", "f.txt"}) + "\n");
  EXPECT_EQ(run.exitStatus, 3);
}

TEST_F(PackhoundCompressedTest, FullPathOptionConvertsARelativePath) {
  const std::string root = fs::canonical(tree.Root()).string();
  const ProcessResult run = Run({"-fp", "S"});
  const std::vector<std::string> lines = OutputLines(run.out);
  ASSERT_EQ(lines.size(), 4u) << run.out;
  EXPECT_EQ(lines[0], "Recursive search of " + root + kSeparator + "S for compressed files.");
  EXPECT_EQ(lines[1], root + kSeparator + Joined({"S", "d.txt"}));
  EXPECT_EQ(lines[2], root + kSeparator + Joined({"S", "X", "f.txt"}));
}

TEST_F(PackhoundTest, FullPathOptionWithoutAPathConvertsTheCurrentDirectory) {
  const std::string root = fs::canonical(tree.Root()).string();
  const ProcessResult run = Run({"-fp", "-su", "-nr"});
  const std::vector<std::string> lines = OutputLines(run.out);
  ASSERT_EQ(lines.size(), 4u) << run.out;
  EXPECT_EQ(lines[0], "Nonrecursive search of " + root + " for uncompressed files.");
  EXPECT_EQ(SortedLines({lines[1], lines[2]}),
            SortedLines({root + kSeparator + "a.txt", root + kSeparator + "b.txt"}));
}

// Nothing on standard output, not even the header: a script that reads the
// count cannot take a search that never ran for one that found nothing.
TEST_F(PackhoundTest, AStartingDirectoryThatCannotBeSearchedEndsTheRunWithItsReasonAlone) {
  const std::string missingBelow = Joined({"nowhere", "deeper"});
  const struct {
    const char* name;
    std::vector<std::string> arguments;
    std::string path;
  } rows[] = {
      {"missing", {"nowhere"}, "nowhere"},
      {"missing, nothing but the listing asked", {"-nh", "-ns", "nowhere"}, "nowhere"},
      {"missing, full path asked: named as given", {"-fp", "nowhere"}, "nowhere"},
      {"missing, not recursive", {"-nr", "-so", "nowhere"}, "nowhere"},
      {"below a missing directory", {missingBelow}, missingBelow},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const ProcessResult run = Run(row.arguments);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err,
              "Packhound: Cannot search " + row.path + ": no such directory; cannot continue.\n");
    EXPECT_EQ(run.exitStatus, kErrorStatus);
  }
}

TEST_F(PackhoundTest, AnEmptyDirectoryIsSearchedAndFindsNothing) {
  const ProcessResult run = Run({"T"});
  EXPECT_EQ(run.out,
            "Recursive search of T for compressed files.\n"
            "Found 0 compressed files in 0 items examined. \n");
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.exitStatus, 0);
}

TEST_F(PackhoundTest, RejectedOptionsEndWithTheTextQuotedAsTyped) {
  const struct {
    std::vector<std::string> arguments;
    const char* message;
  } rows[] = {
      {{"-n"}, "n"},
      {{"-s"}, "s"},
      {{"-x"}, "x"},
      {{"-"}, ""},
      {{"-su", "-Weird Text", "-nr"}, "Weird Text"},
      {{"-nh", "-ns", "-z"}, "z"},
      // Only the exact forms of the conventions are taken as such.
      {{"-help"}, "help"},
      {{"--helpx"}, "-helpx"},
      {{"--HELP"}, "-HELP"},
      {{"-H"}, "H"},
      {{"--h"}, "-h"},
      {{"-version"}, "version"},
      {{"--version=1"}, "-version=1"},
      {{"-extents"}, "extents"},
      {{"--EXTENTS"}, "-EXTENTS"},
      {{"--extent"}, "-extent"},
      {{"--extents=1"}, "-extents=1"},
      {{"--extents", "-z"}, "z"},
      {{"-null"}, "null"},
      {{"--NULL"}, "-NULL"},
      {{"--nul"}, "-nul"},
      {{"--null", "-z"}, "z"},
      {{"--mount"}, "-mount"},
      {{"-mounts"}, "mounts"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.message);
    const ProcessResult run = Run(row.arguments);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err,
              std::string("Packhound: Unknown argument: ") + row.message + "; cannot continue.\n");
    EXPECT_EQ(run.exitStatus, kErrorStatus);
  }
}

TEST_F(PackhoundTest, ALongRejectedOptionIsQuotedWhole) {
  const std::string option(3000, 'q');
  const ProcessResult run = Run({"-" + option});
  EXPECT_EQ(run.err, "Packhound: Unknown argument: " + option + "; cannot continue.\n");
}

// An empty path joins to the search specification of the root: what follows
// the header, listing and summary, is a search of the root's.
TEST_F(PackhoundTest, AnEmptyPathSearchesTheRootWithAnEmptyHeader) {
  const ProcessResult empty = Run({"", "-nr", "-su"});
  const ProcessResult root = Run({kSeparator, "-nr", "-su"});
  const std::vector<std::string> emptyLines = OutputLines(empty.out);
  const std::vector<std::string> rootLines = OutputLines(root.out);
  ASSERT_GE(emptyLines.size(), 2u) << empty.out;
  ASSERT_GE(rootLines.size(), 2u) << root.out;
  EXPECT_EQ(emptyLines[0], "Nonrecursive search of  for uncompressed files.");
  EXPECT_EQ(rootLines[0], "Nonrecursive search of " + kSeparator + " for uncompressed files.");
  EXPECT_EQ(std::vector<std::string>(emptyLines.begin() + 1, emptyLines.end()),
            std::vector<std::string>(rootLines.begin() + 1, rootLines.end()));
  EXPECT_EQ(empty.exitStatus, root.exitStatus);
  EXPECT_EQ(empty.err, "");
  // Each line names a file of the root, not of the directory the tool ran in.
  for (std::size_t i = 1; i + 1 < emptyLines.size(); ++i) {
    EXPECT_TRUE(fs::exists(fs::symlink_status(emptyLines[i]))) << emptyLines[i];
  }
  if (root.exitStatus == 0) {
    GTEST_SKIP() << "the root holds no file here, so a search of nothing would look the same";
  }
}

}  // namespace
