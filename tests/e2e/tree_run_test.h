// The fixture of end-to-end cases: a temporary tree, the tool run in it.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/compressed_flag.h"
#include "tests/support/process_runner.h"
#include "tests/support/temp_tree.h"
#include "tests/support/tool_runner.h"

class TreeRunTest : public testing::Test {
 protected:
  // Marks the files, or skips the case where the file system cannot mark them
  // (the caller then checks IsSkipped()).
  void Compress(const std::vector<std::string>& files) {
    std::string why;
    if (!SetCompressedFlags(tree.Root(), files, &why)) GTEST_SKIP() << why;
  }

  ProcessResult Run(const std::vector<std::string>& arguments,
                    OutputTarget output = OutputTarget::kCaptured) {
    ToolLaunch launch;
    launch.output = output;
    return RunTool(PACKHOUND_PATH, arguments, tree.Root().string(), launch);
  }

  TempTree tree;
};
