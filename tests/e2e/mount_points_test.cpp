// Mount points below the start are passed over, and the run says so once it
// has ended: how many, and the first as a listing line names it. Needs root
// to mount the tmpfs file systems; the case skips, with the reason, otherwise.
#include <sys/mount.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/e2e/tree_run_test.h"

namespace {

//   a.txt  m1/x.txt  sub/b.txt  sub/m2/y.txt
// with m1 and sub/m2 the mount points a row asks for.
class MountPointsTest : public TreeRunTest {
 protected:
  void SetUp() override {
    tree.AddFile("a.txt");
    tree.AddFile("sub/b.txt");
    tree.AddDirectory("m1");
    tree.AddDirectory("sub/m2");
  }

  // Mounts an empty tmpfs holding one file at each of paths; false when it cannot.
  bool Mount(const std::vector<std::string>& paths) {
    for (const std::string& path : paths) {
      if (::mount("packhound-test", (tree / path).c_str(), "tmpfs", 0, "size=1m") != 0) {
        return false;
      }
      mounted.push_back(path);
      tree.AddFile(path + "/inside.txt");
    }
    return true;
  }

  void Unmount() {
    for (const std::string& path : mounted) ::umount2((tree / path).c_str(), MNT_DETACH);
    mounted.clear();
  }

  void TearDown() override { Unmount(); }

  std::vector<std::string> mounted;
};

TEST_F(MountPointsTest, MountPointsPassedOverAreCountedAndTheFirstNamed) {
  const std::string walked =
      "./a.txt\n./sub/b.txt\nFound 2 uncompressed files in 2 items examined. \n";
  const struct {
    const char* name;
    std::vector<std::string> mounts;
    std::vector<std::string> arguments;
    std::string out;
    std::string err;
    int status;
  } rows[] = {
      {"one",
       {"sub/m2"},
       {"-su", "-nh"},
       walked,
       "Packhound: 1 mount point was not searched (./sub/m2); --mounts searches it.\n",
       2},
      {"two, the first met named",
       {"sub/m2", "m1"},
       {"-su", "-nh"},
       walked,
       "Packhound: 2 mount points were not searched (the first: ./m1); --mounts searches them.\n",
       2},
      {"none: nothing said", {}, {"-su", "-nh"}, walked, "", 2},
      {"a search that does not recurse would not have entered one",
       {"m1"},
       {"-su", "-nh", "-nr"},
       "./a.txt\nFound 1 uncompressed files in 1 items examined. \n",
       "",
       1},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    if (!Mount(row.mounts)) GTEST_SKIP() << "a tmpfs cannot be mounted here (root only)";
    const ProcessResult run = Run(row.arguments);
    EXPECT_EQ(run.out, row.out);
    EXPECT_EQ(run.err, row.err);
    EXPECT_EQ(run.exitStatus, row.status);
    Unmount();
  }
}

}  // namespace
