// What only the Windows build does: drive roots, and the count returned whole.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/win32.h"
#include "tests/support/output_lines.h"
#include "tests/support/process_runner.h"
#include "tests/support/temp_tree.h"

namespace {

namespace fs = std::filesystem;

ProcessResult RunIn(const fs::path& directory, const std::vector<std::string>& arguments) {
  return RunProcess(PACKHOUND_PATH, arguments, directory.string());
}

// A file at the root of the drive the temporary folder lives on, removed again.
class DriveRootTest : public testing::Test {
 protected:
  void SetUp() override {
    drive = tree.Root().root_name().string();  // "C:"
    file = fs::path(drive + "\\") / ("packhound-root-" + tree.Root().filename().string() + ".txt");
    std::ofstream(file).close();
    if (!fs::exists(file)) GTEST_SKIP() << "cannot create a file at the root of " << drive;
  }
  void TearDown() override {
    std::error_code error;
    fs::remove(file, error);
  }

  TempTree tree;
  std::string drive;
  fs::path file;
};

TEST_F(DriveRootTest, ARootWithOrWithoutItsBackslashIsSearchedWithOneBackslash) {
  const std::string expectedLine = drive + "\\" + file.filename().string();
  for (const std::string& root : {drive + "\\", drive}) {
    SCOPED_TRACE(root);
    const ProcessResult run = RunIn(tree.Root(), {"-su", "-nr", root});
    EXPECT_EQ(run.out.rfind("Nonrecursive search of " + root + " for uncompressed files.\n", 0), 0u)
        << run.out;
    EXPECT_NE(run.out.find("\n" + expectedLine + "\n"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find(drive + "\\\\"), std::string::npos) << run.out;
  }
}

TEST(DriveRootsTest, ADriveLetterAloneSearchesThatDrivesRoot) {
  TempTree tree;
  const ProcessResult withBackslash = RunIn(tree.Root(), {"-su", "-nr", "-so", "Z:\\"});
  const ProcessResult bare = RunIn(tree.Root(), {"-su", "-nr", "-so", "Z:"});
  const std::size_t summary = bare.out.find("\nFound ");
  ASSERT_NE(summary, std::string::npos) << bare.out;
  EXPECT_EQ(bare.out.substr(0, summary), "Nonrecursive search of Z: for uncompressed files.");
  EXPECT_EQ(withBackslash.out,
            "Nonrecursive search of Z:\\ for uncompressed files." + bare.out.substr(summary));
  EXPECT_EQ(bare.exitStatus, withBackslash.exitStatus);
}

TEST(WindowsCountTest, TheExitCodeIsTheWholeCount) {
  TempTree tree;
  for (int i = 0; i < 300; ++i) tree.AddFile("many\\file" + std::to_string(i));
  const ProcessResult run = RunIn(tree.Root(), {"-su", "-so", "-nh", "many"});
  EXPECT_EQ(run.out, "Found 300 uncompressed files in 300 items examined. \n");
  EXPECT_EQ(run.exitStatus, 300);
}

TEST(WindowsCountTest, BackslashesSeparateEveryLevelOfAListedPath) {
  TempTree tree;
  tree.AddFile("one\\two\\three.txt");
  const ProcessResult run = RunIn(tree.Root(), {"-su", "-nh", "-ns", "one"});
  EXPECT_EQ(run.out, "one\\two\\three.txt\n");
  const ProcessResult trailing = RunIn(tree.Root(), {"-su", "-nh", "-ns", "one\\"});
  EXPECT_EQ(trailing.out, "one\\two\\three.txt\n");
}

// Output that cannot be written ends the run with -1: at once and without a
// word when the reader has gone, with the reason otherwise.
TEST(WindowsOutputTest, AFailedWriteEndsTheRunWithMinusOne) {
  TempTree tree;
  for (int i = 0; i < 400; ++i) tree.AddFile("many\\" + std::string(220, 'f') + std::to_string(i));
  const struct {
    const char* name;
    OutputTarget output;
    std::string error;
  } rows[] = {
      {"a pipe closed after the first line", OutputTarget::kClosedAfterFirstLine, ""},
      {"a pipe closed from the start", OutputTarget::kFullDevice, ""},
      {"standard output closed", OutputTarget::kClosed,
       "Packhound: Cannot write the output: standard output is closed.\n"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const ProcessResult run =
        RunProcess(PACKHOUND_PATH, {"-su", "many"}, tree.Root().string(), row.output);
    EXPECT_EQ(run.err, row.error);
    EXPECT_EQ(run.exitStatus, -1);
  }
}

// A start whose full path runs past MAX_PATH while the path given does not:
// where the system takes long paths the full path is shown whole, elsewhere
// (Wine, or Windows without the long-path setting) the path as given; never
// a path cut short, and the file is found either way.
TEST(WindowsFullPathTest, AFullPathPastMaxPathIsShownWholeOrAsGiven) {
  TempTree tree;
  const std::string start = std::string(110, 'a') + "\\" + std::string(110, 'b');
  tree.AddFile(start + "\\f.txt");
  const std::string full = fs::canonical(tree.Root()).string() + "\\" + start;
  ASSERT_GT(full.size(), static_cast<std::size_t>(MAX_PATH));
  const ProcessResult run = RunIn(tree.Root(), {"-su", "-fp", start});
  const std::vector<std::string> lines = OutputLines(run.out);
  ASSERT_EQ(lines.size(), 3u) << run.out;
  const bool madeFull = lines[0] == "Recursive search of " + full + " for uncompressed files.";
  if (!madeFull) {
    EXPECT_EQ(lines[0], "Recursive search of " + start + " for uncompressed files.");
  }
  EXPECT_EQ(lines[1], (madeFull ? full : start) + "\\f.txt");
  EXPECT_EQ(lines[2], "Found 1 uncompressed files in 1 items examined. ");
}

}  // namespace
