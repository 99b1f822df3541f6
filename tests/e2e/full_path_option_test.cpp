// The "fp" option where the platform cannot make the path full: the path is
// searched as given, and nothing the platform left in a buffer is shown.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/output_lines.h"
#include "tests/support/temp_tree.h"
#include "tests/support/tool_runner.h"

namespace {

// The tool's working directory is removed before it starts: the current
// directory then has no path, and no relative path can be made full.
TEST(FullPathOptionTest, WithoutACurrentDirectoryThePathIsShownAsGiven) {
  const struct {
    const char* name;
    std::vector<std::string> arguments;
    std::string header;
  } rows[] = {
      {"a relative path", {"-fp", "-su", "sub"}, "Recursive search of sub for uncompressed files."},
      {"no path", {"-fp", "-su", "-nr"}, "Nonrecursive search of . for uncompressed files."},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    TempTree tree;
    tree.AddDirectory("gone");
    ToolLaunch launch;
    launch.launcher = {"/bin/sh", "-c", "rmdir \"$PWD\" && exec \"$0\" \"$@\""};
    const ProcessResult run =
        RunTool(PACKHOUND_PATH, row.arguments, (tree / "gone").string(), launch);
    const std::vector<std::string> lines = OutputLines(run.out);
    ASSERT_FALSE(lines.empty()) << run.err;
    EXPECT_EQ(lines.front(), row.header);
  }
}

}  // namespace
