// What the POSIX port adds: an 8-bit exit status and output that may vanish.
#include <gtest/gtest.h>

#include <string>

#include "tests/support/compressed_flag.h"
#include "tests/support/process_runner.h"
#include "tests/support/temp_tree.h"

namespace {

class PortRulesTest : public testing::Test {
 protected:
  // count files, marked compressed when asked (or the test is skipped).
  void AddFiles(const std::string& directory, int count, const std::string& stem, bool compressed) {
    for (int i = 0; i < count; ++i) {
      const std::string name = directory + "/" + stem + std::to_string(i);
      tree.AddFile(name);
      std::string why;
      if (compressed && !SetCompressedFlag((tree / name).string(), &why)) GTEST_SKIP() << why;
    }
  }

  ProcessResult Run(const std::vector<std::string>& arguments,
                    OutputTarget output = OutputTarget::kCaptured) {
    return RunProcess(PACKHOUND_PATH, arguments, tree.Root().string(), output);
  }

  TempTree tree;
};

TEST_F(PortRulesTest, ExitStatusStopsAt254WhileTheSummaryKeepsTheCount) {
  AddFiles("many", 300, "file", true);
  if (IsSkipped()) return;
  const ProcessResult run = Run({"-so", "-nh", "many"});
  EXPECT_EQ(run.out, "Found 300 compressed files in 300 items examined. \n");
  EXPECT_EQ(run.exitStatus, 254);
  EXPECT_EQ(Run({"-so", "-nh", "-su", "many"}).exitStatus, 0);
}

TEST_F(PortRulesTest, ExactlyTheBoundaryCounts) {
  AddFiles("a", 253, "f", false);
  AddFiles("b", 254, "f", false);
  AddFiles("c", 255, "f", false);
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
    AddFiles(directory, 200, std::string(200, 'n'), false);
  }
  std::string directory;
};

TEST_F(ClosedOutputTest, APipeClosedEarlyLeavesTheStatusAlone) {
  const ProcessResult run = RunProcess(
      "/bin/bash",
      {"-c", "set -o pipefail; \"$0\" -su \"$1\" | head -c 100 >/dev/null", PACKHOUND_PATH, directory},
      tree.Root().string());
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

}  // namespace
