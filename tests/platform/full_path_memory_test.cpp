// GetFullPathNameA when memory runs out, its own or the C library's: it
// answers 0 with ERROR_NOT_ENOUGH_MEMORY, which the driver turns into the
// out-of-memory message, and keeps nothing it had allocated (a leak shows in
// the sanitizer runs of this test).
#include <gtest/gtest.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/win32.h"
#include "tests/support/failing_allocator.h"

namespace {

// The C library allocates the current directory's text itself, out of reach
// of the test allocator; this binary's getcwd can be made to fail as the
// library does when that allocation fails.
bool getcwdOutOfMemory = false;

}  // namespace

extern "C" char* getcwd(char* buffer, std::size_t size) {
  if (getcwdOutOfMemory) {
    errno = ENOMEM;
    return nullptr;
  }
  const bool allocate = buffer == nullptr;
  if (allocate) {
    size = PATH_MAX;
    buffer = static_cast<char*>(std::malloc(size));
  }
  if (buffer == nullptr || ::syscall(SYS_getcwd, buffer, size) < 0) {
    if (allocate) std::free(buffer);
    return nullptr;
  }
  return buffer;
}

namespace {

TEST(FullPathMemoryTest, ACurrentDirectoryTheLibraryHadNoMemoryForIsAMemoryError) {
  char buffer[PATH_MAX];
  EXPECT_GT(GetFullPathNameA("name", sizeof buffer, buffer, nullptr), 0u);
  getcwdOutOfMemory = true;
  SetLastError(0);
  const DWORD length = GetFullPathNameA("name", sizeof buffer, buffer, nullptr);
  getcwdOutOfMemory = false;
  EXPECT_EQ(length, 0u);
  EXPECT_EQ(GetLastError(), ERROR_NOT_ENOUGH_MEMORY);
}

TEST(FullPathMemoryTest, EachFailingAllocationAnswersZeroWithTheMemoryError) {
  for (const char* name : {"relative/name", "/absolute/../name"}) {
    SCOPED_TRACE(name);
    std::int64_t failing = 0;
    for (;; ++failing) {
      SCOPED_TRACE("allocation " + std::to_string(failing) + " failing");
      char buffer[PATH_MAX];
      SetLastError(0);
      DWORD length = 0;
      bool failed = false;
      {
        failing_allocator::Scope scope(failing, 1);
        length = GetFullPathNameA(name, sizeof buffer, buffer, nullptr);
        failed = scope.Failures() > 0;
      }
      if (!failed) {
        EXPECT_GT(length, 0u);
        break;
      }
      EXPECT_EQ(length, 0u);
      EXPECT_EQ(GetLastError(), ERROR_NOT_ENOUGH_MEMORY);
    }
    EXPECT_GT(failing, 0) << "the conversion allocates nothing that can fail";
  }
}

}  // namespace
