// The directory enumeration's own memory, counted by the test allocator.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/posix/read_ahead.h"
#include "platform/win32.h"
#include "tests/support/failing_allocator.h"
#include "tests/support/temp_tree.h"

namespace {

// A walk on one thread opens one directory after another, each closed before
// the next: the room of a closed search serves the next one, so that however
// long the walk, the enumeration allocates nothing once its first search was
// opened. (The read-ahead allocates each listing it reads ahead.)
TEST(FindFilesMemoryTest, SearchesOpenedOneAfterAnotherAllocateNothingAfterTheFirst) {
  ::setenv("PACKHOUND_THREADS", "1", 1);
  if (read_ahead::Enabled()) GTEST_SKIP() << "this process chose the read-ahead before";
  const TempTree tree;
  tree.AddFile("file");
  const std::string specification = (tree.Root() / "*").string();
  WIN32_FIND_DATAA record;
  const auto openAndClose = [&] {
    const HANDLE handle = FindFirstFileA(specification.c_str(), &record);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    while (FindNextFileA(handle, &record)) {
    }
    EXPECT_TRUE(FindClose(handle));
  };
  openAndClose();
  const failing_allocator::Scope counter;
  for (int search = 0; search < 1000; ++search) openAndClose();
  EXPECT_EQ(counter.Allocations(), 0);
}

}  // namespace
