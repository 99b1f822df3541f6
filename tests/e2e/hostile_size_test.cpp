// Trees of extreme size and shape: one directory of 100,000 entries, a tree
// 400 levels deep searched with few file descriptors, and paths longer than
// the kernel takes in one call.
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/compressed_flag.h"
#include "tests/support/output_lines.h"
#include "tests/support/temp_tree.h"
#include "tests/support/tool_runner.h"

namespace {

// Makes directories one inside the other under root, each relative to the
// one before, so that the chain may run past PATH_MAX; puts an empty file
// named file in those at the levels (1 being the first) listed in filesAt.
void MakeChain(const std::string& root, const std::vector<std::string>& names,
               const std::vector<std::size_t>& filesAt, const std::string& file) {
  int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  for (std::size_t level = 1; level <= names.size(); ++level) {
    const std::string& name = names[level - 1];
    ASSERT_EQ(::mkdirat(fd, name.c_str(), 0755), 0) << name;
    const int next = ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ::close(fd);
    ASSERT_GE(next, 0);
    fd = next;
    if (std::find(filesAt.begin(), filesAt.end(), level) != filesAt.end()) {
      const int created = ::openat(fd, file.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
      ASSERT_GE(created, 0);
      ::close(created);
    }
  }
  ::close(fd);
}

std::string Joined(const std::vector<std::string>& names, std::size_t count) {
  std::string path;
  for (std::size_t i = 0; i < count; ++i) path += (i == 0 ? "" : "/") + names[i];
  return path;
}

TEST(HostileSizeTest, OneDirectoryOfAHundredThousandEntriesIsListedWhole) {
  constexpr int kEntries = 100000;
  constexpr int kCompressedEvery = 1000;
  TempTree tree;
  tree.AddDirectory("big");
  const int fd = ::open((tree / "big").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  std::vector<std::string> plain;
  std::vector<std::string> compressed;
  for (int i = 0; i < kEntries; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "f%06d", i);
    const int file = ::openat(fd, name, O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_GE(file, 0) << name;
    ::close(file);
    (i % kCompressedEvery == 0 ? compressed : plain).push_back(std::string("big/") + name);
  }
  ::close(fd);
  std::string why;
  if (!SetCompressedFlags(tree.Root(), compressed, &why)) GTEST_SKIP() << why;

  const ProcessResult uncompressed =
      RunTool(PACKHOUND_PATH, {"-su", "-nh", "-ns", "big"}, tree.Root().string());
  EXPECT_EQ(uncompressed.err, "");
  EXPECT_EQ(uncompressed.exitStatus, 254);
  EXPECT_TRUE(SortedLines(OutputLines(uncompressed.out)) == plain) << "the listing differs";

  const ProcessResult found = RunTool(PACKHOUND_PATH, {"-nh", "big"}, tree.Root().string());
  std::vector<std::string> lines = OutputLines(found.out);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "Found 100 compressed files in 100000 items examined. ");
  lines.pop_back();
  EXPECT_EQ(SortedLines(lines), compressed);
  EXPECT_EQ(found.exitStatus, 100);
}

// Each level is listed before the one below it, and only one directory is
// open at a time, so 24 descriptors reach the bottom.
TEST(HostileSizeTest, FourHundredLevelsAreSearchedWholeUnderALowDescriptorLimit) {
  constexpr std::size_t kDepth = 400;
  TempTree tree;
  const std::vector<std::string> names(kDepth, "d");
  std::vector<std::size_t> everyLevel;
  for (std::size_t level = 1; level <= kDepth; ++level) everyLevel.push_back(level);
  MakeChain(tree.Root().string(), names, everyLevel, "f");

  std::string expected;
  for (std::size_t level = 1; level <= kDepth; ++level) {
    expected += "./" + Joined(names, level) + "/f\n";
  }
  expected += "Found 400 uncompressed files in 400 items examined. \n";
  ToolLaunch launch;
  launch.launcher = {"/usr/bin/prlimit", "--nofile=24:24", "--"};
  const ProcessResult run = RunTool(PACKHOUND_PATH, {"-su", "-nh"}, tree.Root().string(), launch);
  EXPECT_TRUE(run.out == expected) << run.out.substr(0, 2000);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.exitStatus, 254);
}

// The walk holds a few stack frames per level of the branch it is in. A
// limit set low enough for this tree to overflow it at the start must not
// end the search: the tool lets the stack grow as far as the hard limit.
TEST(HostileSizeTest, ATreeDeeperThanTheStartingStackLimitIsSearchedWhole) {
  if (std::getenv("PACKHOUND_TEST_WRAPPER") != nullptr) {
    GTEST_SKIP() << "a wrapper runs the tool on a stack of its own";
  }
  constexpr std::size_t kDepth = 3000;
  TempTree tree;
  MakeChain(tree.Root().string(), std::vector<std::string>(kDepth, "d"), {kDepth}, "f");
  ToolLaunch launch;
  launch.launcher = {"/usr/bin/prlimit", "--stack=262144:", "--"};
  const ProcessResult run =
      RunTool(PACKHOUND_PATH, {"-su", "-so", "-nh"}, tree.Root().string(), launch);
  EXPECT_EQ(run.out, "Found 1 uncompressed files in 1 items examined. \n");
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.exitStatus, 1);
}

// Twenty names of 250 characters: the deepest directory's path runs past
// PATH_MAX, whether it is reached from above or given as the starting path.
TEST(HostileSizeTest, PathsLongerThanTheKernelTakesAreSearchedAndListed) {
  TempTree tree;
  std::vector<std::string> names;
  for (char c = 'a'; c < 'a' + 20; ++c) names.push_back(std::string(250, c));
  MakeChain(tree.Root().string(), names, {10, 20}, "f");
  const std::string middle = Joined(names, 10);
  const std::string deepest = Joined(names, 20);
  ASSERT_GT(deepest.size(), static_cast<std::size_t>(PATH_MAX));
  const std::string root = std::filesystem::canonical(tree.Root()).string();

  const struct {
    const char* name;
    std::vector<std::string> arguments;
    std::string out;
    int status;
  } rows[] = {
      {"from the top",
       {"-su", "-nh"},
       "./" + middle + "/f\n./" + deepest +
           "/f\nFound 2 uncompressed files in 2 items examined. \n",
       2},
      {"from the deepest directory",
       {"-su", deepest},
       "Recursive search of " + deepest + " for uncompressed files.\n" + deepest +
           "/f\nFound 1 uncompressed files in 1 items examined. \n",
       1},
      // The full path, longer than PATH_MAX, is made and shown whole.
      {"from the deepest directory, full path asked",
       {"-fp", "-su", deepest},
       "Recursive search of " + root + "/" + deepest + " for uncompressed files.\n" + root + "/" +
           deepest + "/f\nFound 1 uncompressed files in 1 items examined. \n",
       1},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const ProcessResult run = RunTool(PACKHOUND_PATH, row.arguments, tree.Root().string());
    EXPECT_TRUE(run.out == row.out) << run.out.substr(0, 300);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.exitStatus, row.status);
  }
}

}  // namespace
