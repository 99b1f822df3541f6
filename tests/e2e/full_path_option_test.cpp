// The "fp" option where the platform cannot make the path full: the path is
// named as given, and nothing the platform left in a buffer is shown.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/temp_tree.h"
#include "tests/support/tool_runner.h"

namespace {

// The tool's working directory is removed before it starts: the current
// directory then has no path, and no relative path can be made full. A path
// that names nothing is then reported as given, never as a made-up full one.
TEST(FullPathOptionTest, WithoutACurrentDirectoryThePathIsNamedAsGiven) {
  const struct {
    const char* name;
    std::vector<std::string> arguments;
    std::string error;
  } rows[] = {
      {"a relative path",
       {"-fp", "-su", "sub"},
       "Packhound: Cannot search sub: no such directory; cannot continue.\n"},
      // A removed directory cannot be listed either, even through the
      // descriptor the process still holds.
      {"no path",
       {"-fp", "-su", "-nr"},
       "Packhound: Cannot search .: no such directory; cannot continue.\n"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    TempTree tree;
    tree.AddDirectory("gone");
    ToolLaunch launch;
    launch.launcher = {"/bin/sh", "-c", "rmdir \"$PWD\" && exec \"$0\" \"$@\""};
    const ProcessResult run =
        RunTool(PACKHOUND_PATH, row.arguments, (tree / "gone").string(), launch);
    EXPECT_EQ(run.err, row.error);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.exitStatus, 255);
  }
}

}  // namespace
