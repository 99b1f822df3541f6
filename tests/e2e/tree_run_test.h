// The fixtures of end-to-end cases: a temporary tree, the tool run in it.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "tests/support/compressed_flag.h"
#include "tests/support/process_runner.h"
#include "tests/support/temp_tree.h"
#include "tests/support/tool_runner.h"

class TreeRunTest : public testing::Test {
 protected:
  ProcessResult Run(const std::vector<std::string>& arguments,
                    OutputTarget output = OutputTarget::kCaptured) {
    ToolLaunch launch;
    launch.output = output;
    return RunTool(PACKHOUND_PATH, arguments, tree.Root().string(), launch);
  }

  TempTree tree;
};

// A tree in which the given files, made empty, carry the compressed
// attribute. Where the file system cannot mark a file so, every case of the
// fixture is skipped here, before it runs.
class CompressedTreeRunTest : public TreeRunTest {
 protected:
  explicit CompressedTreeRunTest(std::vector<std::string> files) : compressed(std::move(files)) {}

  void SetUp() final {
    for (std::size_t i = 0; i < compressed.size(); ++i) {
      tree.AddFile(compressed[i]);
      std::string why;
      if (SetCompressedFlag((tree.Root() / compressed[i]).string(), &why)) continue;
      // The first refusal is the file system's; a later one is a fault.
      if (i == 0) GTEST_SKIP() << why;
      FAIL() << why;
    }
  }

 private:
  std::vector<std::string> compressed;
};
