// The text suite runs on Windows in the code page the tool runs in: its
// binary carries the same manifest, so the UTF-8 cases are cases of code
// page 65001 and not of the system's own.
#include <windows.h>

#include <gtest/gtest.h>

namespace {

TEST(WindowsCodePageTest, TheTextSuiteRunsInTheUtf8CodePage) {
  EXPECT_EQ(GetACP(), static_cast<UINT>(CP_UTF8));
}

}  // namespace
