#include "tests/support/fake_find.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

namespace {

// Reached from inside the failure-catching statements, which take no locals.
HANDLE openHandle = nullptr;
WIN32_FIND_DATAA record;

TEST(FakeFindTest, CallsTheEngineShouldNotMakeFailTheTestLoudly) {
  FakeFind fake;
  fake.AddDirectory("d", {FakeFile("only")});
  EXPECT_NONFATAL_FAILURE(FindClose(INVALID_HANDLE_VALUE), "INVALID_HANDLE_VALUE");
  EXPECT_NONFATAL_FAILURE(FindNextFileA(INVALID_HANDLE_VALUE, &record), "INVALID_HANDLE_VALUE");
  EXPECT_NONFATAL_FAILURE(FindNextFileA(reinterpret_cast<HANDLE>(4096), &record), "never answered");

  openHandle = FindFirstFileA(PlatformPath({"d", "*.*"}).c_str(), &record);
  ASSERT_NE(openHandle, INVALID_HANDLE_VALUE);
  EXPECT_STREQ(record.cFileName, "only");
  EXPECT_FALSE(FindNextFileA(openHandle, &record));
  EXPECT_NONFATAL_FAILURE(FindNextFileA(openHandle, &record), "after it answered FALSE");
  EXPECT_TRUE(FindClose(openHandle));
  EXPECT_NONFATAL_FAILURE(FindClose(openHandle), "closed search");
  EXPECT_NONFATAL_FAILURE(FindNextFileA(openHandle, &record), "closed search");
}

TEST(FakeFindTest, AHandleLeftOpenFailsTheTest) {
  EXPECT_NONFATAL_FAILURE(
      {
        FakeFind fake;
        fake.AddDirectory("d", {FakeFile("only")});
        FindFirstFileA(PlatformPath({"d", "*.*"}).c_str(), &record);
      },
      "never closed");
}

TEST(FakeFindTest, UnknownAndEmptyDirectoriesCannotBeOpened) {
  FakeFind fake;
  fake.AddDirectory("empty", {});
  EXPECT_EQ(FindFirstFileA(PlatformPath({"missing", "*.*"}).c_str(), &record),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(FindFirstFileA(PlatformPath({"empty", "*.*"}).c_str(), &record), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

}  // namespace
