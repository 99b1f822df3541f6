// What the POSIX port adds: an 8-bit exit status and output that may vanish.
#include <gtest/gtest.h>

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

TEST_F(ClosedOutputTest, APipeClosedEarlyLeavesTheStatusAlone) {
  std::vector<std::string> arguments = {"-c", "set -o pipefail; \"$@\" | head -c 100 >/dev/null",
                                        "bash"};
  for (const std::string& word : ToolCommand(PACKHOUND_PATH)) arguments.push_back(word);
  arguments.push_back("-su");
  arguments.push_back(directory);
  const ProcessResult run = RunProcess("/bin/bash", arguments, tree.Root().string());
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.exitStatus, 200);
}

TEST_F(ClosedOutputTest, ClosedStandardOutputLeavesTheStatusAlone) {
  const ProcessResult run = Run({"-su", directory}, OutputTarget::kClosed);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.exitStatus, 200);
}

TEST_F(ClosedOutputTest, AFullDeviceLeavesTheStatusAlone) {
  const ProcessResult run = Run({"-su", directory}, OutputTarget::kFullDevice);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.exitStatus, 200);
}

TEST_F(ClosedOutputTest, AFatalMessageStillReachesStandardErrorWhenOutputIsGone) {
  const ProcessResult run = Run({"-ns", "-so"}, OutputTarget::kFullDevice);
  EXPECT_EQ(run.err, "Packhound: -so and -ns options are mutually exclusive; cannot continue.\n");
  EXPECT_EQ(run.exitStatus, 255);
}

// Standard error closed or full as well: the fatal message or the usage text
// is lost, never the exit status, and a search still counts exactly.
TEST_F(ClosedOutputTest, ClosedOrFullStandardErrorLeavesTheStatusAlone) {
  const struct {
    const char* name;
    const char* redirections;
    std::vector<std::string> arguments;
    int status;
  } rows[] = {
      {"conflict, error closed", "2>&-", {"-ns", "-so"}, 255},
      {"unknown option, error full", "2>/dev/full", {"-bogus"}, 255},
      {"search, every standard descriptor closed", "<&- >&- 2>&-", {"-su", directory}, 200},
      {"search, output and error full", ">/dev/full 2>/dev/full", {"-su", directory}, 200},
      {"usage, every standard descriptor closed", "<&- >&- 2>&-", {"-u"}, 0},
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

}  // namespace
