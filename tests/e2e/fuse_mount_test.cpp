// File systems a user mounts that answer nobody (a daemon stopped) or refuse
// root (mounted without allow_other), met by a root walk: a link to one holds
// nothing up and counts as a file, as every link leading out of the tree
// does; an entry root may not look at is that entry's own problem, and the
// rest of its directory is listed. Needs root; skipped with the reason where
// FUSE cannot be mounted.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/output_lines.h"
#include "tests/support/posix/silent_fuse_mount.h"
#include "tests/support/temp_tree.h"
#include "tests/support/tool_runner.h"

namespace fs = std::filesystem;

namespace {

// How the tool runs: its walk threads, and whether openat2 is refused as by
// a container profile that predates it.
struct Way {
  const char* name;
  unsigned threads;
  bool withoutOpenat2;
};

constexpr Way kWays[] = {
    {"one thread", 1, false},
    {"two threads", 2, false},
    {"sixteen threads", 16, false},
    {"one thread, openat2 refused", 1, true},
    {"four threads, openat2 refused", 4, true},
};

ProcessResult RunWay(const Way& way, const std::vector<std::string>& arguments,
                     const fs::path& directory) {
  ToolLaunch launch;
  launch.launcher = WithThreads(way.threads);
  if (way.withoutOpenat2)
    launch.launcher.insert(launch.launcher.end(), {PACKHOUND_SECCOMP_PATH, "EPERM", "openat2"});
  launch.deadlineSeconds = 20;  // a walk held up by the silent mount is killed, and fails
  return RunTool(PACKHOUND_PATH, arguments, directory.string(), launch);
}

// The names of directory in the order the file system lists them.
std::vector<std::string> Listing(const fs::path& directory) {
  std::vector<std::string> names;
  DIR* listing = ::opendir(directory.c_str());
  while (const dirent* entry = listing != nullptr ? ::readdir(listing) : nullptr) {
    if (entry->d_name[0] != '.') names.emplace_back(entry->d_name);
  }
  if (listing != nullptr) ::closedir(listing);
  return names;
}

TEST(FuseMountTest, ALinkLeadingOutOfTheTreeHoldsNothingUpAndIsAFile) {
  TempTree world;
  world.AddFile("tree/file");
  world.AddFile("tree/sub/f");
  world.AddDirectory("outside/dir");
  world.AddDirectory("silent");
  const SilentFuseMount silent(world / "silent", 65534, true);
  if (!silent.whyNot.empty()) GTEST_SKIP() << silent.whyNot;
  const struct {
    const char* link;
    std::string target;
    bool aFile;  // counted and listed as a file of the tree
  } links[] = {
      {"in", "sub", false},
      {"in-by-full-path", (world / "tree/sub").string(), false},
      {"sub/up", "..", false},
      {"to-a-file", "file", true},
      {"dangling", "nowhere", true},
      {"up-and-back-in", "../tree/sub", true},  // it leaves the tree on the way
      {"outside", (world / "outside/dir").string(), true},
      {"into-the-silent-mount", (world / "silent/dir").string(), true},
      {"the-silent-mount", (world / "silent").string(), true},
  };
  std::vector<std::string> wanted = {"./file", "./sub/f"};
  for (const auto& link : links) {
    ASSERT_EQ(::symlink(link.target.c_str(), (world / "tree" / link.link).c_str()), 0);
    if (link.aFile) wanted.push_back("./" + std::string(link.link));
  }
  wanted = SortedLines(wanted);
  const std::string count = std::to_string(wanted.size());
  for (const Way& way : kWays) {
    SCOPED_TRACE(way.name);
    const ProcessResult run = RunWay(way, {"-su", "-nh"}, world / "tree");
    ASSERT_NE(run.exitStatus, -1) << "held up or crashed: " << run.err;
    std::vector<std::string> lines = OutputLines(run.out);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(),
              "Found " + count + " uncompressed files in " + count + " items examined. ");
    lines.pop_back();
    EXPECT_EQ(SortedLines(lines), wanted);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.exitStatus, static_cast<int>(wanted.size()));
  }
}

// In a shared sticky directory, a user mounts a directory and a file without
// allow_other: root may look at neither. The mounted directory is reported
// as one that cannot be searched, the mounted file as one whose attributes
// cannot be read (examined, matched by neither search), and the five files
// beside them are listed, wherever the two come in the listing.
TEST(FuseMountTest, AnEntryRootMayNotLookAtHidesNothingElseOfItsDirectory) {
  TempTree world;
  world.AddDirectory("shared");
  ::chmod((world / "shared").c_str(), 01777);
  for (const char* name : {"a", "b", "c", "d", "e"}) world.AddFile(std::string("shared/") + name);
  // A name the listing gives first, so that the start's first entry is one
  // root may not look at.
  std::string first;
  for (int i = 0; i < 200 && first.empty(); ++i) {
    const std::string name = "m" + std::to_string(i);
    world.AddDirectory("shared/" + name);
    if (Listing(world / "shared").front() == name) {
      first = name;
    } else {
      fs::remove(world / "shared" / name);
    }
  }
  ASSERT_FALSE(first.empty());
  world.AddFile("shared/file-mount");
  const SilentFuseMount directory(world / "shared" / first, 65534, false);
  if (!directory.whyNot.empty()) GTEST_SKIP() << directory.whyNot;
  const SilentFuseMount file(world / "shared/file-mount", 65534, false);
  ASSERT_EQ(file.whyNot, "");
  for (const std::string start : {"shared", "."}) {
    const std::string prefix = start == "." ? "./shared" : "shared";
    for (const Way& way : kWays) {
      SCOPED_TRACE(start + ", " + way.name);
      const ProcessResult run = RunWay(way, {"-su", start}, world.Root());
      std::vector<std::string> lines = OutputLines(run.out);
      ASSERT_EQ(lines.size(), 7u) << run.out << run.err;
      EXPECT_EQ(lines.back(), "Found 5 uncompressed files in 6 items examined. ");
      EXPECT_EQ(
          SortedLines(std::vector<std::string>(lines.begin() + 1, lines.end() - 1)),
          SortedLines({prefix + "/a", prefix + "/b", prefix + "/c", prefix + "/d", prefix + "/e"}));
      EXPECT_EQ(run.err, "Packhound: Cannot read the attributes of " + prefix +
                             "/file-mount: access denied.\n"
                             "Packhound: Cannot search " +
                             prefix + "/" + first + ": access denied.\n");
      EXPECT_EQ(run.exitStatus, 5);
    }
  }
}

}  // namespace
