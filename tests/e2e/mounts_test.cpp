// File systems mounted below the start: searched with --mounts, each root
// opened as any directory below the start is and checked against its
// listing, the same bytes for every number of threads, with openat2 refused
// and short of descriptors; a mount gone before its turn is refused; and
// btrfs mounted to compress gets the hint that --extents finds what its
// files' attributes do not say. Needs root to mount; skipped with the
// reason otherwise.
#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/output_lines.h"
#include "tests/support/posix/held_run.h"
#include "tests/support/posix/loop_file_system.h"
#include "tests/support/temp_tree.h"
#include "tests/support/tool_runner.h"

namespace fs = std::filesystem;

namespace {

constexpr char kHint[] =
    "Packhound: btrfs compresses files here by its compress mount option, which sets no "
    "attribute; --extents finds them.\n";

// A tree of two files with a tmpfs mounted at m holding three, another
// mounted inside that one holding one, and a link to the first; every mount
// undone at the end.
class MountedTree {
 public:
  MountedTree() {
    tree.AddFile("top");
    tree.AddFile("sub/f");
    if (::geteuid() != 0 || !Mount("m")) {
      whyNot = "tmpfs cannot be mounted here";
      return;
    }
    tree.AddFile("m/a");
    tree.AddFile("m/inner/b");
    tree.AddFile("m/inner/deeper/c");
    if (!Mount("m/inner/nested")) {
      whyNot = "a tmpfs cannot be mounted inside a tmpfs here";
      return;
    }
    tree.AddFile("m/inner/nested/d");
    fs::create_directory_symlink("m/inner", tree / "link");
  }
  ~MountedTree() { Unmount(); }
  void Unmount() {
    for (auto point = points.rbegin(); point != points.rend(); ++point) {
      ::umount2(point->c_str(), MNT_DETACH);
    }
    points.clear();
  }

  TempTree tree;
  std::string whyNot;

 private:
  bool Mount(const std::string& relative) {
    tree.AddDirectory(relative);
    if (::mount("packhound-test", (tree / relative).c_str(), "tmpfs", 0, "size=1m") != 0) {
      return false;
    }
    points.push_back(tree / relative);
    return true;
  }
  std::vector<fs::path> points;
};

ProcessResult RunOver(const MountedTree& mounted, std::vector<std::string> launcher,
                      const std::vector<std::string>& arguments) {
  ToolLaunch launch;
  launch.launcher = std::move(launcher);
  return RunTool(PACKHOUND_PATH, arguments, mounted.tree.Root().string(), launch);
}

TEST(MountsTest, MountsBelowTheStartAreSearchedWithMountsAsEveryDirectoryIs) {
  const MountedTree mounted;
  if (!mounted.whyNot.empty()) GTEST_SKIP() << mounted.whyNot;
  const std::vector<std::string> everything = {
      "./link",  "./m/a", "./m/inner/b", "./m/inner/deeper/c", "./m/inner/nested/d",
      "./sub/f", "./top"};
  const ProcessResult one =
      RunOver(mounted, {"/usr/bin/env", "PACKHOUND_THREADS=1"}, {"--mounts", "-su", "-nh"});
  std::vector<std::string> lines = OutputLines(one.out);
  ASSERT_FALSE(lines.empty()) << one.err;
  EXPECT_EQ(lines.back(), "Found 7 uncompressed files in 7 items examined. ");
  lines.pop_back();
  EXPECT_EQ(SortedLines(lines), everything);
  EXPECT_EQ(one.err, "");
  const struct {
    const char* name;
    std::vector<std::string> launcher;
  } ways[] = {
      {"two threads", {"/usr/bin/env", "PACKHOUND_THREADS=2"}},
      {"sixteen threads", {"/usr/bin/env", "PACKHOUND_THREADS=16"}},
      {"openat2 refused",
       {"/usr/bin/env", "PACKHOUND_THREADS=4", PACKHOUND_SECCOMP_PATH, "EPERM", "openat2"}},
      {"one thread, few descriptors",
       {"/usr/bin/prlimit", "--nofile=12:12", "/usr/bin/env", "PACKHOUND_THREADS=1"}},
  };
  for (const auto& way : ways) {
    SCOPED_TRACE(way.name);
    const ProcessResult run = RunOver(mounted, way.launcher, {"--mounts", "-su", "-nh"});
    EXPECT_EQ(run.out, one.out);
    EXPECT_EQ(run.err, one.err);
    EXPECT_EQ(run.exitStatus, one.exitStatus);
  }
  // Without the option, nothing of the mounts.
  lines = OutputLines(RunOver(mounted, {}, {"-su", "-nh"}).out);
  EXPECT_EQ(lines.back(), "Found 3 uncompressed files in 3 items examined. ");
}

// The mount's root is unmounted while the walk, held, is about to search it,
// and a file lies in the directory underneath: what is there now is not the
// mount the listing saw, and is refused as changed.
TEST(MountsTest, AMountGoneBeforeItsTurnIsRefusedAsChanged) {
  for (const unsigned threads : {1u, 4u}) {
    SCOPED_TRACE(std::to_string(threads) + " threads");
    MountedTree mounted;
    if (!mounted.whyNot.empty()) GTEST_SKIP() << mounted.whyNot;
    bool held = false;
    const ProcessResult run = RunHeld(
        PACKHOUND_HELD_PATH, {"--mounts", "-su", "-nh"}, mounted.tree.Root().string(), threads,
        "asked", "./m/*.*",
        [&] {
          mounted.Unmount();
          mounted.tree.AddFile("m/underneath");
        },
        held);
    ASSERT_TRUE(held) << run.err;
    EXPECT_EQ(run.out.find("underneath"), std::string::npos) << run.out;
    EXPECT_EQ(run.err, "Packhound: Cannot search ./m: changed during the search.\n");
  }
}

TEST(MountsTest, BtrfsMountedToCompressGetsTheHint) {
  const struct {
    const char* type;
    const char* options;
    std::vector<std::string> arguments;
    bool hint;
  } rows[] = {
      {"tmpfs", "", {"-so"}, false},
      {"btrfs", "rw", {"-so"}, false},
      {"btrfs", "compress=zstd", {"-so"}, true},
      {"btrfs", "compress-force=lzo", {"-so"}, true},
      {"btrfs", "compress=zstd", {"-so", "--extents"}, false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.type) + " " + row.options);
    const LoopFileSystem mounted(row.type, row.options, "120M");
    if (!mounted.whyNot.empty()) GTEST_SKIP() << mounted.whyNot;
    fs::create_directories(mounted.mountPoint / "sub");
    ::close(::open((mounted.mountPoint / "sub/file").c_str(), O_WRONLY | O_CREAT, 0644));
    const ProcessResult run = RunTool(PACKHOUND_PATH, row.arguments, mounted.mountPoint.string());
    EXPECT_EQ(run.err, row.hint ? kHint : "");
    EXPECT_EQ(run.exitStatus, 0);
  }
}

}  // namespace
