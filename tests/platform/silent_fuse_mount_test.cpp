// The mount that never answers, as the tests that use it rely on it.
#include <fcntl.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <future>
#include <string>

#include "tests/support/posix/silent_fuse_mount.h"
#include "tests/support/temp_tree.h"

namespace {

constexpr auto kPatience = std::chrono::seconds(10);

// The errno of a statx of path made on a thread of its own: 0 on success.
std::future<int> StatxLater(const std::filesystem::path& path) {
  return std::async(std::launch::async, [path] {
    struct statx status;
    return ::statx(AT_FDCWD, path.c_str(), 0, STATX_BASIC_STATS, &status) == 0 ? 0 : errno;
  });
}

TEST(SilentFuseMountTest, WithoutAllowOtherRootIsRefusedAtOnce) {
  TempTree folder;
  folder.AddDirectory("mnt");
  SilentFuseMount mount(folder / "mnt", 65534, false);
  if (!mount.whyNot.empty()) GTEST_SKIP() << mount.whyNot;
  std::future<int> answer = StatxLater(mount.mountPoint);
  const bool answered = answer.wait_for(kPatience) == std::future_status::ready;
  mount.Abort();  // a request sent after all: let it go before failing
  ASSERT_TRUE(answered) << "statx waited on the file system";
  EXPECT_EQ(answer.get(), EACCES);
}

TEST(SilentFuseMountTest, WithAllowOtherALookupWaitsUntilAborted) {
  TempTree folder;
  folder.AddDirectory("mnt");
  SilentFuseMount mount(folder / "mnt", 65534, true);
  if (!mount.whyNot.empty()) GTEST_SKIP() << mount.whyNot;
  std::future<int> answer = StatxLater(mount.mountPoint / "x");
  EXPECT_EQ(answer.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout);
  mount.Abort();
  ASSERT_EQ(answer.wait_for(kPatience), std::future_status::ready);
  EXPECT_EQ(answer.get(), ENOTCONN);
}

}  // namespace
