// Directories the user may not read, or may read but not search, run as an
// unprivileged user (root reads everything): each counts as empty, nothing is
// printed for it, and the walk goes on past it.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/compressed_flag.h"
#include "tests/support/output_lines.h"
#include "tests/support/temp_tree.h"
#include "tests/support/tool_runner.h"

namespace {

namespace fs = std::filesystem;

// Every file but b.txt is compressed. Only a.txt, b.txt and zafter/c.txt can
// be reached without rights beyond those of others:
//   closed/   (---------) inner.txt
//   blind/    (--x--x--x) inner.txt, found by name only, never listed
//   listonly/ (r--r--r--) hidden.txt, deeper/buried.txt
class HostilePermissionsTest : public testing::Test {
 protected:
  void SetUp() override {
    // Another user must be able to run the tool, wherever the build lives.
    const fs::path tool = toolFolder / "packhound";
    fs::copy_file(PACKHOUND_PATH, tool);
    ::chmod(toolFolder.Root().c_str(), 0755);
    toolPath = tool.string();

    ::chmod(tree.Root().c_str(), 0755);
    for (const char* file : {"a.txt", "b.txt", "closed/inner.txt", "blind/inner.txt",
                             "listonly/hidden.txt", "listonly/deeper/buried.txt", "zafter/c.txt"}) {
      tree.AddFile(file);
      std::string why;
      if (std::string(file) != "b.txt" && !SetCompressedFlag((tree / file).string(), &why)) {
        GTEST_SKIP() << why;
      }
    }
    ::chmod((tree / "closed").c_str(), 0);
    ::chmod((tree / "blind").c_str(), 0111);
    ::chmod((tree / "listonly").c_str(), 0444);
  }

  ProcessResult Run(const std::vector<std::string>& arguments,
                    const std::vector<std::string>& launcher) {
    ToolLaunch launch;
    launch.launcher = launcher;
    return RunTool(toolPath, arguments, tree.Root().string(), launch);
  }

  TempTree toolFolder;
  TempTree tree;
  std::string toolPath;
};

TEST_F(HostilePermissionsTest, DirectoriesWithoutRightsCountAsEmptyAndTheWalkGoesOn) {
  const struct {
    const char* name;
    std::vector<std::string> arguments;
    std::vector<std::string> listing;
    const char* summary;
    int status;
  } rows[] = {
      {"compressed",
       {},
       {"./a.txt", "./zafter/c.txt"},
       "Found 2 compressed files in 3 items examined. ",
       2},
      {"uncompressed", {"-su"}, {"./b.txt"}, "Found 1 uncompressed files in 3 items examined. ", 1},
      {"not recursive", {"-nr"}, {"./a.txt"}, "Found 1 compressed files in 2 items examined. ", 1},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const ProcessResult run = Run(row.arguments, AsNobody());
    std::vector<std::string> lines = OutputLines(run.out);
    ASSERT_GE(lines.size(), 2u) << run.out << run.err;
    EXPECT_EQ(lines.back(), row.summary);
    EXPECT_EQ(std::vector<std::string>(lines.begin() + 1, lines.end() - 1), row.listing);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.exitStatus, row.status);
  }
}

// The same tree seen by root: the rights above are what hid the other files.
TEST_F(HostilePermissionsTest, RootReadsWhatTheOrdinaryUserCannot) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root";
  const ProcessResult run = Run({"-so"}, {});
  EXPECT_EQ(run.out,
            "Recursive search of . for compressed files.\n"
            "Found 6 compressed files in 7 items examined. \n");
  EXPECT_EQ(run.exitStatus, 6);
}

}  // namespace
