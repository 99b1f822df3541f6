#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/win32.h"

namespace {

// The test binary's own path, as the build placed it.
const std::string kExpected = std::filesystem::canonical(PACKHOUND_TEST_BINARY).string();

struct TruncationRow {
  const char* name;
  DWORD size;
  DWORD result;
  std::string text;  // what the buffer holds, when size is not 0
  DWORD lastError;   // kUnchanged when the call leaves it alone
};

constexpr DWORD kUnchanged = 0xDEADBEEF;

TEST(ModuleFileNameTest, NamesTheExecutableAndCutsItToFitASmallBuffer) {
  const auto full = static_cast<DWORD>(kExpected.size());
  const TruncationRow rows[] = {
      {"room for the terminator", full + 1, full, kExpected, kUnchanged},
      {"one short", full, full, kExpected.substr(0, full - 1), ERROR_INSUFFICIENT_BUFFER},
      {"five characters", 6, 6, kExpected.substr(0, 5), ERROR_INSUFFICIENT_BUFFER},
      {"terminator only", 1, 1, "", ERROR_INSUFFICIENT_BUFFER},
      {"no room at all", 0, 0, "", ERROR_INSUFFICIENT_BUFFER},
  };
  for (const TruncationRow& row : rows) {
    SCOPED_TRACE(row.name);
    std::string buffer(full + 16, '#');
    SetLastError(kUnchanged);
    EXPECT_EQ(GetModuleFileNameA(nullptr, buffer.data(), row.size), row.result);
    EXPECT_EQ(GetLastError(), row.lastError);
    if (row.size > 0) {
      EXPECT_EQ(std::string(buffer.c_str()), row.text);
    }
    EXPECT_EQ(buffer.substr(row.size), std::string(buffer.size() - row.size, '#'))
        << "wrote past the given size";
  }
}

TEST(ModuleFileNameTest, OnlyTheExecutableIsAModule) {
  char buffer[kFullPathBufferSize] = "#";
  int other = 0;
  EXPECT_EQ(GetModuleFileNameA(&other, buffer, sizeof buffer), 0U);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_STREQ(buffer, "#");
}

}  // namespace
