#include "tests/support/fake_find.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

namespace {

// Reached from inside the failure-catching statements, which take no locals.
HANDLE handle = nullptr;
WIN32_FIND_DATAA record;

TEST(FakeFindTest, CallsTheEngineShouldNotMakeFailTheTestLoudly) {
  FakeFind fake;
  fake.AddDirectory("d", {FakeFile("only")});
  EXPECT_NONFATAL_FAILURE(FindClose(INVALID_HANDLE_VALUE), "INVALID_HANDLE_VALUE");
  EXPECT_NONFATAL_FAILURE(FindNextFileA(reinterpret_cast<HANDLE>(4096), &record), "never answered");
  handle = FindFirstFileA(PlatformPath({"d", "*.*"}).c_str(), &record);
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(FindNextFileA(handle, &record));
  EXPECT_NONFATAL_FAILURE(FindNextFileA(handle, &record), "after it answered FALSE");
  EXPECT_TRUE(FindClose(handle));
  EXPECT_NONFATAL_FAILURE(FindClose(handle), "closed search");
}

TEST(FakeFindTest, ASearchLeftOpenFailsTheTest) {
  EXPECT_NONFATAL_FAILURE(
      {
        FakeFind fake;
        fake.AddDirectory("d", {FakeFile("only")});
        FindFirstFileA(PlatformPath({"d", "*.*"}).c_str(), &record);
      },
      "never closed");
}

}  // namespace
