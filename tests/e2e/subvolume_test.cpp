// Subdirectories that are btrfs subvolumes, each with a device number of its
// own on the one mount: without openat2 the walk opens them as with it, and
// a directory replaced by one whose inode has the same number, on another
// subvolume, is refused. On a btrfs made for the test on a loop device;
// skipped with the reason where it cannot be mounted.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/output_lines.h"
#include "tests/support/posix/held_run.h"
#include "tests/support/posix/loop_file_system.h"
#include "tests/support/tool_runner.h"

namespace fs = std::filesystem;

namespace {

ino_t InodeOf(const fs::path& path) {
  struct stat status;
  return ::lstat(path.c_str(), &status) == 0 ? status.st_ino : 0;
}

void Touch(const fs::path& path) {
  fs::create_directories(path.parent_path());
  ::close(::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
}

TEST(SubvolumeTest, WithoutOpenat2SubvolumesAreSearchedAsWithIt) {
  const LoopFileSystem btrfs("btrfs", "rw", "200M");
  if (!btrfs.whyNot.empty()) GTEST_SKIP() << btrfs.whyNot;
  const fs::path top = btrfs.mountPoint;
  ASSERT_TRUE(btrfs.MakeSubvolume(top / "volume"));
  ASSERT_TRUE(btrfs.MakeSubvolume(top / "volume/nested"));
  for (const char* file :
       {"plain/f", "volume/f", "volume/dir/g", "volume/nested/h", "volume/nested/deeper/i"}) {
    Touch(top / file);
  }
  const auto run = [&](unsigned threads, const std::string& refused) {
    ToolLaunch launch;
    launch.launcher = WithThreads(threads);
    if (!refused.empty()) {
      launch.launcher.insert(launch.launcher.end(), {PACKHOUND_SECCOMP_PATH, refused, "openat2"});
    }
    return RunTool(PACKHOUND_PATH, {"-su"}, top.string(), launch);
  };
  const ProcessResult with = run(1, "");
  EXPECT_EQ(OutputLines(with.out).back(), "Found 5 uncompressed files in 5 items examined. ");
  EXPECT_EQ(with.err, "");
  for (const char* refused : {"EPERM", "ENOSYS"}) {
    for (const unsigned threads : {1u, 4u}) {
      SCOPED_TRACE(std::string(refused) + ", " + std::to_string(threads) + " threads");
      const ProcessResult without = run(threads, refused);
      EXPECT_EQ(without.out, with.out);
      EXPECT_EQ(without.err, "");
      EXPECT_EQ(without.exitStatus, 5);
    }
  }
}

// a/b/x is listed, then, while the walk is held as it asks for x, a/b is
// replaced by a new subvolume holding a directory x whose inode has x's
// number, and a file planted in it. Short of descriptors the walk on one
// thread keeps no parent open and opens x by its path; the read-ahead opened
// x ahead, from b's descriptor. Either way x is refused as changed.
TEST(SubvolumeTest, ADirectoryReplacedByOneOfTheSameInodeOnAnotherSubvolumeIsRefused) {
  const LoopFileSystem btrfs("btrfs", "rw", "200M");
  if (!btrfs.whyNot.empty()) GTEST_SKIP() << btrfs.whyNot;
  if (std::getenv("PACKHOUND_TEST_WRAPPER") != nullptr) {
    GTEST_SKIP() << "a wrapper needs descriptors of its own";
  }
  const fs::path top = btrfs.mountPoint;
  const struct {
    unsigned threads;
    const char* descriptors;  // the limit, low enough that no parent is kept on one thread
  } rows[] = {{1, "6"}, {4, "64"}};
  for (const auto& row : rows) {
    SCOPED_TRACE(std::to_string(row.threads) + " threads");
#if defined(__SANITIZE_ADDRESS__)
    // The sanitizers' runtime needs descriptors of its own to check the program.
    if (row.threads == 1) {
      std::printf("skipped one thread on 6 descriptors: the sanitizers need more\n");
      continue;
    }
#endif
    fs::remove_all(top / "a");
    Touch(top / "a/b/x/inside");
    const ino_t listed = InodeOf(top / "a/b/x");
    bool planted = false;
    bool held = false;
    ToolLaunch launch;
    launch.launcher = {"/usr/bin/prlimit",
                       std::string("--nofile=") + row.descriptors + ":" + row.descriptors, "--"};
    const ProcessResult run = RunHeld(
        PACKHOUND_HELD_PATH, {"-su", "-nh"}, top.string(), row.threads, "asked", "./a/b/x/*.*",
        [&] {
          fs::rename(top / "a/b", top / "a/b.away");
          if (!btrfs.MakeSubvolume(top / "a/b")) return;
          // Inode numbers in a new subvolume count up from the same start.
          for (int i = 0; i < 1000; ++i) {
            const fs::path candidate = top / "a/b" / ("pad" + std::to_string(i));
            fs::create_directory(candidate);
            const ino_t got = InodeOf(candidate);
            if (got > listed) break;
            if (got == listed) {
              fs::rename(candidate, top / "a/b/x");
              Touch(top / "a/b/x/PLANTED");
              planted = true;
              break;
            }
          }
          std::this_thread::sleep_for(std::chrono::milliseconds(20));
        },
        held, launch);
    ASSERT_TRUE(held) << run.err;
    if (!planted) GTEST_SKIP() << "no directory of the same inode number could be made";
    EXPECT_EQ(run.out.find("PLANTED"), std::string::npos) << run.out;
    EXPECT_EQ(run.err, "Packhound: Cannot search ./a/b/x: changed during the search.\n");
    fs::remove_all(top / "a/b.away");
    Succeeds("btrfs subvolume delete " + (top / "a/b").string());
  }
}

}  // namespace
