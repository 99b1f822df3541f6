// Directories the user may not read, or may read but not search, run as an
// unprivileged user (root reads everything). Given as the starting directory,
// such a directory ends the run with its reason and nothing else; below it,
// each one is reported on standard error and the walk goes on, with standard
// output and the status exactly those of the same tree with them empty.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/compressed_flag.h"
#include "tests/support/output_lines.h"
#include "tests/support/remove_tree.h"
#include "tests/support/temp_tree.h"
#include "tests/support/tool_runner.h"

namespace {

namespace fs = std::filesystem;

// The directories without rights, and what they hold.
const std::vector<std::string> kGuarded = {"closed", "blind", "listonly"};
const std::vector<std::string> kGuardedContents = {"closed/inner.txt", "blind/inner.txt",
                                                   "listonly/hidden.txt", "listonly/deeper"};

// Every file but b.txt is compressed. Only a.txt, b.txt and zafter/c.txt can
// be reached without rights beyond those of others:
//   closed/   (---------) inner.txt
//   blind/    (--x--x--x) inner.txt, found by name only, never listed
//   listonly/ (r--r--r--) hidden.txt, deeper/buried.txt
class HostilePermissionsTest : public testing::Test {
 protected:
  void SetUp() override {
    toolPath = ToolForAnyUser(PACKHOUND_PATH, toolFolder.Root().string());

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

  // The guarded directories in the order the walk meets them: the order in
  // which the top directory lists them.
  std::vector<std::string> WalkOrder() const {
    std::vector<std::string> order;
    DIR* listing = ::opendir(tree.Root().c_str());
    EXPECT_NE(listing, nullptr);
    if (listing == nullptr) return order;
    while (const dirent* entry = ::readdir(listing)) {
      for (const std::string& name : kGuarded) {
        if (name == entry->d_name) order.push_back(name);
      }
    }
    ::closedir(listing);
    return order;
  }

  // Gives the guarded directories their rights back and empties them in
  // place, so that the top directory lists them as before.
  void EmptyTheGuardedDirectories() const {
    for (const std::string& name : kGuarded) ::chmod((tree / name).c_str(), 0755);
    for (const std::string& entry : kGuardedContents) RemoveTree((tree / entry).string());
  }

  TempTree toolFolder;
  TempTree tree;
  std::string toolPath;
};

TEST_F(HostilePermissionsTest, AStartingDirectoryWithoutRightsEndsTheRunWithItsReason) {
  const struct {
    const char* name;
    std::vector<std::string> arguments;
    const char* message;
  } rows[] = {
      {"no rights at all", {"closed"}, "closed: access denied"},
      {"search but no read permission", {"blind"}, "blind: access denied"},
      {"read but no search permission", {"listonly"}, "listonly: access denied"},
      {"read but no search permission, not recursive",
       {"-nr", "listonly"},
       "listonly: access denied"},
      {"full path asked: named as given", {"-fp", "listonly"}, "listonly: access denied"},
      {"a file", {"a.txt"}, "a.txt: not a directory"},
      {"below a file", {"a.txt/x"}, "a.txt/x: not a directory"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const ProcessResult run = Run(row.arguments, AsNobody());
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err,
              std::string("Packhound: Cannot search ") + row.message + "; cannot continue.\n");
    EXPECT_EQ(run.exitStatus, 255);
  }
}

TEST_F(HostilePermissionsTest, DirectoriesWithoutRightsAreReportedAndTheRestIsAsIfTheyWereEmpty) {
  const std::string fullRoot = fs::canonical(tree.Root()).string() + "/";
  const struct {
    const char* name;
    std::vector<std::string> arguments;
    std::string prefix;  // of the listed and reported paths
    std::vector<std::string> listing;
    const char* summary;
    int status;
    bool recursive = true;
  } rows[] = {
      {"compressed",
       {},
       "./",
       {"a.txt", "zafter/c.txt"},
       "Found 2 compressed files in 3 items examined. ",
       2},
      {"uncompressed",
       {"-su"},
       "./",
       {"b.txt"},
       "Found 1 uncompressed files in 3 items examined. ",
       1},
      {"full path",
       {"-fp"},
       fullRoot,
       {"a.txt", "zafter/c.txt"},
       "Found 2 compressed files in 3 items examined. ",
       2},
      {"not recursive",
       {"-nr"},
       "./",
       {"a.txt"},
       "Found 1 compressed files in 2 items examined. ",
       1,
       false},
  };
  std::vector<ProcessResult> guarded;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const ProcessResult run = Run(row.arguments, AsNobody());
    guarded.push_back(run);
    std::vector<std::string> lines = OutputLines(run.out);
    ASSERT_GE(lines.size(), 2u) << run.out << run.err;
    EXPECT_EQ(lines.back(), row.summary);
    std::vector<std::string> listing;
    for (const std::string& file : row.listing) listing.push_back(row.prefix + file);
    EXPECT_EQ(std::vector<std::string>(lines.begin() + 1, lines.end() - 1), listing);
    std::string warnings;
    for (const std::string& name : WalkOrder()) {
      if (row.recursive)
        warnings += "Packhound: Cannot search " + row.prefix + name + ": access denied.\n";
    }
    EXPECT_EQ(run.err, warnings);
    EXPECT_EQ(run.exitStatus, row.status);
  }

  EmptyTheGuardedDirectories();
  for (std::size_t i = 0; i < std::size(rows); ++i) {
    SCOPED_TRACE(std::string(rows[i].name) + ", the directories emptied");
    const ProcessResult run = Run(rows[i].arguments, AsNobody());
    EXPECT_EQ(run.out, guarded[i].out);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.exitStatus, guarded[i].exitStatus);
  }
}

// The same tree seen by root: the rights above are what hid the other files.
TEST_F(HostilePermissionsTest, RootReadsWhatTheOrdinaryUserCannot) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root";
  const ProcessResult run = Run({"-so"}, {});
  EXPECT_EQ(run.out,
            "Recursive search of . for compressed files.\n"
            "Found 6 compressed files in 7 items examined. \n");
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.exitStatus, 6);
}

}  // namespace
