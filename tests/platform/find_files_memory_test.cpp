// The directory enumeration's own memory, counted by the test allocator.
#include <gtest/gtest.h>

#include <string>

#include "platform/win32.h"
#include "tests/support/failing_allocator.h"
#include "tests/support/temp_tree.h"

namespace {

// A walk opens one directory after another, each closed before the next: the
// room of a closed search serves the next one, so that however long the walk,
// the enumeration allocates nothing once its first search was opened.
TEST(FindFilesMemoryTest, SearchesOpenedOneAfterAnotherAllocateNothingAfterTheFirst) {
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
