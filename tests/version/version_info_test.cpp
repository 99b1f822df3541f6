// The reader over the resource the build gives the executable.
#include "version/version_info.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

void ExpectBuiltVersion(const VersionInfo& info) {
  EXPECT_STREQ(info.GetDottedFileVersion(), "1.0.1.2");
  EXPECT_STREQ(info.GetFileVersion(), "1, 0, 1, 2");
  EXPECT_STREQ(info.GetProductName(), "Packhounnd");
  EXPECT_STREQ(info.GetProductVersion(), "1, 0, 0, 0");
}

TEST(VersionInfoTest, TheBuiltToolReadsAsVersion1012) {
  const VersionInfo info(CString(PACKHOUND_EXECUTABLE));
  ExpectBuiltVersion(info);
}

// This test binary carries the same resource; the default reader finds it
// through the running module's path, which must fit the path buffer.
TEST(VersionInfoTest, TheDefaultReaderReadsTheRunningModule) {
  const VersionInfo info;
  if (std::strlen(PACKHOUND_TEST_BINARY) < kFullPathBufferSize) {
    ExpectBuiltVersion(info);
  } else {
    EXPECT_STREQ(info.GetDottedFileVersion(), "N/A");
  }
}

}  // namespace
