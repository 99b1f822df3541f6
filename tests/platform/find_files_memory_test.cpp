// The directory enumeration's own memory, counted by the test allocator.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/posix/read_ahead.h"
#include "platform/win32.h"
#include "tests/support/failing_allocator.h"
#include "tests/support/temp_tree.h"

namespace {

// Opens and closes 1000 searches one after the other on one thread, in a
// process of its own, so that whatever thread count the binary runs with,
// the choice of no read-ahead is made there.
[[noreturn]] void SearchOneAfterAnotherOnOneThread() {
  ::setenv("PACKHOUND_THREADS", "1", 1);
  if (read_ahead::Enabled()) std::_Exit(2);
  long long allocations = -1;
  {
    const TempTree tree;
    tree.AddFile("file");
    const std::string everyName = (tree.Root() / "*").string();
    WIN32_FIND_DATAA record;
    const auto openAndClose = [&] {
      const HANDLE handle = FindFirstFileA(everyName.c_str(), &record);
      if (handle == INVALID_HANDLE_VALUE) std::_Exit(3);
      while (FindNextFileA(handle, &record)) {
      }
      if (!FindClose(handle)) std::_Exit(3);
    };
    openAndClose();
    const failing_allocator::Scope counter;
    for (int search = 0; search < 1000; ++search) openAndClose();
    allocations = counter.Allocations();
  }
  std::fprintf(stderr, "allocations %lld\n", allocations);
  std::_Exit(0);
}

// A walk on one thread opens one directory after another, each closed before
// the next: the room of a closed search serves the next one, so that however
// long the walk, the enumeration allocates nothing once its first search was
// opened. (The read-ahead allocates each listing it reads ahead.)
TEST(FindFilesMemoryTest, SearchesOpenedOneAfterAnotherAllocateNothingAfterTheFirst) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(SearchOneAfterAnotherOnOneThread(), ::testing::ExitedWithCode(0), "allocations 0\n");
}

}  // namespace
