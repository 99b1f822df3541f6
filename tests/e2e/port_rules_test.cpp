// What the POSIX port adds: an 8-bit exit status, and output that cannot be written.
#include <sys/mount.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "tests/e2e/tree_run_test.h"

namespace {

class PortRulesTest : public TreeRunTest {
 protected:
  // count empty files in directory.
  void AddFiles(const std::string& directory, int count, const std::string& stem) {
    for (int i = 0; i < count; ++i) tree.AddFile(directory + "/" + stem + std::to_string(i));
  }
};

// 300 files in many, each compressed.
class PortRulesCompressedTest : public CompressedTreeRunTest {
 protected:
  PortRulesCompressedTest() : CompressedTreeRunTest(ManyFiles()) {}

  static std::vector<std::string> ManyFiles() {
    std::vector<std::string> names;
    for (int i = 0; i < 300; ++i) names.push_back("many/file" + std::to_string(i));
    return names;
  }
};

TEST_F(PortRulesCompressedTest, ExitStatusStopsAt254WhileTheSummaryKeepsTheCount) {
  const ProcessResult run = Run({"-so", "-nh", "many"});
  EXPECT_EQ(run.out, "Found 300 compressed files in 300 items examined. \n");
  EXPECT_EQ(run.exitStatus, 254);
  EXPECT_EQ(Run({"-so", "-nh", "-su", "many"}).exitStatus, 0);
}

TEST_F(PortRulesTest, ExactlyTheBoundaryCounts) {
  AddFiles("a", 253, "f");
  AddFiles("b", 254, "f");
  AddFiles("c", 255, "f");
  EXPECT_EQ(Run({"-su", "-so", "a"}).exitStatus, 253);
  EXPECT_EQ(Run({"-su", "-so", "b"}).exitStatus, 254);
  EXPECT_EQ(Run({"-su", "-so", "c"}).exitStatus, 254);
}

// Listing lines long enough that the reader must go away before the last ones
// are written.
class ClosedOutputTest : public PortRulesTest {
 protected:
  void SetUp() override {
    directory = std::string(200, 'd');
    AddFiles(directory, 200, std::string(200, 'n'));
  }
  std::string directory;
};

TEST_F(ClosedOutputTest, APipeClosedEarlyEndsTheRunQuietlyWithTheErrorStatus) {
  std::vector<std::string> arguments = {"-c", "set -o pipefail; \"$@\" | head -c 100 >/dev/null",
                                        "bash"};
  for (const std::string& word : ToolCommand(PACKHOUND_PATH)) arguments.push_back(word);
  arguments.push_back("-su");
  arguments.push_back(directory);
  const ProcessResult run = RunProcess("/bin/bash", arguments, tree.Root().string());
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.exitStatus, 255);
}

TEST_F(ClosedOutputTest, ClosedStandardOutputEndsTheRunWithTheErrorStatus) {
  const ProcessResult run = Run({"-su", directory}, OutputTarget::kClosed);
  EXPECT_EQ(run.err, "Packhound: Cannot write the output: standard output is closed.\n");
  EXPECT_EQ(run.exitStatus, 255);
}

TEST_F(ClosedOutputTest, AFullDeviceEndsTheRunWithTheErrorStatus) {
  const ProcessResult run = Run({"-su", directory}, OutputTarget::kFullDevice);
  EXPECT_EQ(run.err, "Packhound: Cannot write the output: no space left on the device.\n");
  EXPECT_EQ(run.exitStatus, 255);
}

TEST_F(ClosedOutputTest, AFatalMessageStillReachesStandardErrorWhenOutputIsGone) {
  const ProcessResult run = Run({"-ns", "-so"}, OutputTarget::kFullDevice);
  EXPECT_EQ(run.err, "Packhound: -so and -ns options are mutually exclusive; cannot continue.\n");
  EXPECT_EQ(run.exitStatus, 255);
}

// Standard error closed or full as well: the fatal message is lost, never the
// exit status; a search or usage text whose output is lost too still ends
// with the error status.
TEST_F(ClosedOutputTest, ClosedOrFullStandardErrorLeavesTheStatusAlone) {
  const struct {
    const char* name;
    const char* redirections;
    std::vector<std::string> arguments;
    int status;
  } rows[] = {
      {"conflict, error closed", "2>&-", {"-ns", "-so"}, 255},
      {"unknown option, error full", "2>/dev/full", {"-bogus"}, 255},
      {"search, every standard descriptor closed", "<&- >&- 2>&-", {"-su", directory}, 255},
      {"search, output and error full", ">/dev/full 2>/dev/full", {"-su", directory}, 255},
      {"usage, every standard descriptor closed", "<&- >&- 2>&-", {"-u"}, 255},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    ToolLaunch launch;
    launch.launcher = {"/bin/sh", "-c", std::string("exec \"$@\" ") + row.redirections, "sh"};
    const ProcessResult run = RunTool(PACKHOUND_PATH, row.arguments, tree.Root().string(), launch);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.exitStatus, row.status);
  }
}

// 300 directories of one file each, named long enough that a page of pipe
// holds a few of their lines and a 64 KiB file system not all of them.
class FailedWriteTest : public PortRulesTest {
 protected:
  void SetUp() override {
    for (int i = 0; i < 300; ++i) {
      tree.AddFile("t/" + std::string(120, 'd') + std::to_string(i) + "/" + std::string(120, 'f'));
    }
  }

  // The getdents64 calls of a run of the tool, with its standard output as
  // output says; -1 when strace cannot count them here.
  long DirectoryReads(OutputTarget output) {
    const TempTree counts;
    const std::string report = (counts.Root() / "calls").string();
    ToolLaunch launch;
    launch.launcher = {"/usr/bin/strace", "-f", "-c", "-e", "trace=getdents64", "-o", report, "--"};
    launch.output = output;
    RunTool(PACKHOUND_PATH, {"-su", "t"}, tree.Root().string(), launch);
    std::ifstream table(report);
    for (std::string line; std::getline(table, line);) {
      std::istringstream words(line);
      std::vector<std::string> columns{std::istream_iterator<std::string>(words), {}};
      if (columns.size() >= 5 && columns.back() == "getdents64") return std::stol(columns[3]);
    }
    return -1;
  }
};

// The first line that cannot be written ends the run with the error status
// and, unless the reader has simply gone, one line that says why; nothing
// more is written, and the walk stops there.
TEST_F(FailedWriteTest, TheFirstFailedWriteEndsTheRunWithTheErrorStatus) {
  const ProcessResult whole = Run({"-su", "t"});
  ASSERT_EQ(whole.exitStatus, 254) << whole.err;
  ASSERT_GT(whole.out.size(), std::size_t{64 * 1024});

  const TempTree small;
  const std::filesystem::path full = small.Root() / "mnt";
  std::filesystem::create_directory(full);
  const bool mounted = ::mount("packhound-test", full.c_str(), "tmpfs", 0, "size=64k") == 0;
  const std::string written = (full / "out").string();
  std::string skipped;

  const struct {
    const char* name;
    OutputTarget output;
    std::string redirection;  // for the shell, when output is kCaptured
    std::string error;        // empty: no word
  } rows[] = {
      {"the full device", OutputTarget::kFullDevice, "",
       "Packhound: Cannot write the output: no space left on the device.\n"},
      {"a full file system", OutputTarget::kCaptured, ">'" + written + "'",
       "Packhound: Cannot write the output: no space left on the device.\n"},
      {"standard output closed", OutputTarget::kClosed, "",
       "Packhound: Cannot write the output: standard output is closed.\n"},
      {"a pipe closed after the first line", OutputTarget::kClosedAfterFirstLine, "", ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    if (!row.redirection.empty() && !mounted) {
      skipped += std::string(row.name) + ": a tmpfs cannot be mounted here (root only). ";
      continue;
    }
    ToolLaunch launch;
    launch.output = row.output;
    if (!row.redirection.empty()) {
      launch.launcher = {"/bin/sh", "-c", "exec \"$@\" " + row.redirection, "sh"};
    }
    const ProcessResult run = RunTool(PACKHOUND_PATH, {"-su", "t"}, tree.Root().string(), launch);
    EXPECT_EQ(run.err, row.error);
    EXPECT_EQ(run.exitStatus, 255);
    // What did arrive is the listing's beginning, whole lines but the last.
    std::string arrived = run.out;
    if (!row.redirection.empty()) {
      std::ifstream file(written, std::ios::binary);
      arrived.assign(std::istreambuf_iterator<char>(file), {});
    }
    EXPECT_EQ(arrived, whole.out.substr(0, arrived.size()));
  }
  if (mounted) ::umount2(full.c_str(), MNT_DETACH);

  // The walk stops at the failed line: it reads far fewer directories than
  // the whole run does, though the read-ahead may have gone on a little.
  if (!std::filesystem::exists("/usr/bin/strace")) {
    skipped += "strace is not installed: the walk's stop is not measured. ";
  } else {
    const long all = DirectoryReads(OutputTarget::kCaptured);
    const long cut = DirectoryReads(OutputTarget::kClosedAfterFirstLine);
    if (all < 0) {
      skipped += "strace cannot trace here: the walk's stop is not measured. ";
    } else {
      EXPECT_GE(all, 600);
      EXPECT_LT(cut * 2, all);
    }
  }
  if (!skipped.empty()) GTEST_SKIP() << skipped;
}

}  // namespace
