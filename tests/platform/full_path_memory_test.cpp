// GetFullPathNameA when memory runs out: it answers 0 with
// ERROR_NOT_ENOUGH_MEMORY, which the driver turns into the out-of-memory
// message, and keeps nothing it had allocated (a leak shows in the
// sanitizer and valgrind runs of this test).
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <string>

#include "platform/win32.h"
#include "tests/support/failing_allocator.h"

namespace {

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
