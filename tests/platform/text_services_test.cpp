// The text and diagnostic services of the POSIX layer.
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "platform/win32.h"

namespace {

// What OutputDebugStringA wrote to standard error's descriptor.
std::string DebugOutput(const char* text) {
  std::FILE* file = std::tmpfile();
  EXPECT_NE(file, nullptr);
  if (file == nullptr) return "";
  std::fflush(stderr);
  const int saved = ::dup(STDERR_FILENO);
  ::dup2(::fileno(file), STDERR_FILENO);
  OutputDebugStringA(text);
  ::dup2(saved, STDERR_FILENO);
  ::close(saved);
  std::string written;
  std::rewind(file);
  for (int c; (c = std::fgetc(file)) != EOF;) written += static_cast<char>(c);
  std::fclose(file);
  return written;
}

// The debugger's messages reach standard error as lines of their own.
TEST(TextServicesTest, DebugOutputIsWrittenAsWholeLines) {
  const struct {
    const char* name;
    const char* text;
    const char* written;
  } rows[] = {
      {"text without a line end", "refused", "refused\n"},
      {"text that ends its line", "refused\n", "refused\n"},
      {"two lines, the last open", "one\ntwo", "one\ntwo\n"},
      {"null text", nullptr, ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(DebugOutput(row.text), row.written);
  }
}

}  // namespace
