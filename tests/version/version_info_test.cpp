// The reader over the resource the build gives the executable.
#include "version/version_info.h"

#include <gtest/gtest.h>

namespace {

void ExpectBuiltVersion(const VersionInfo& info) {
  EXPECT_STREQ(info.GetDottedFileVersion(), "1.0.1.2");
  EXPECT_STREQ(info.GetFileVersion(), "1, 0, 1, 2");
  // "Packhounnd", with the doubled n, on purpose: the product name is spelled
  // as the resource has always carried it, and is read back as it is. Not a
  // typo to fix, here or in CMakeLists.txt.
  EXPECT_STREQ(info.GetProductName(), "Packhounnd");
  EXPECT_STREQ(info.GetProductVersion(), "1, 0, 0, 0");
}

TEST(VersionInfoTest, TheBuiltToolReadsAsVersion1012) {
  const VersionInfo info(CString(PACKHOUND_EXECUTABLE));
  ExpectBuiltVersion(info);
}

// This test binary carries the same resource; the default reader finds it
// through the running module's path. The build folder's path must fit the
// path buffer (MAX_PATH on Windows); a module path that does not fit is a
// case of version_info_path_test.cpp, over fakes, on POSIX.
TEST(VersionInfoTest, TheDefaultReaderReadsTheRunningModule) {
  const VersionInfo info;
  ExpectBuiltVersion(info);
}

}  // namespace
