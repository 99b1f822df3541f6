#include "find/subdirectory_queue.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "find/hresult_exception.h"
#include "tests/support/failing_allocator.h"

namespace {

using failing_allocator::FailAll;
using failing_allocator::Scope;

std::vector<CString> Paths(int count) {
  std::vector<CString> paths;
  for (int i = 0; i < count; ++i) paths.emplace_back(("dir" + std::to_string(i)).c_str());
  return paths;
}

std::vector<std::string> Walk(const SubdirectoryQueue& queue) {
  std::vector<std::string> walked;
  for (const SubdirectoryQueue::Node* node = queue.Head(); node != nullptr; node = node->next) {
    walked.emplace_back(node->path);
  }
  return walked;
}

TEST(SubdirectoryQueueTest, PathsComeOutInTheOrderTheyWentInAcrossBlocks) {
  const std::vector<CString> paths = Paths(23);
  SubdirectoryQueue queue;
  std::vector<std::string> expected;
  for (const CString& path : paths) {
    queue.Append(path);
    expected.emplace_back(path);
  }
  EXPECT_EQ(queue.GetCount(), 23u);
  EXPECT_EQ(Walk(queue), expected);

  // The back links mirror the forward ones.
  const SubdirectoryQueue::Node* last = queue.Head();
  while (last->next != nullptr) last = last->next;
  std::vector<std::string> backwards;
  for (const SubdirectoryQueue::Node* node = last; node != nullptr; node = node->prev) {
    backwards.emplace_back(node->path);
  }
  EXPECT_EQ(std::vector<std::string>(backwards.rbegin(), backwards.rend()), expected);
}

TEST(SubdirectoryQueueTest, AQueuedPathSharesItsTextUntilTheQueueLetsGo) {
  const CString path("some/dir");
  {
    SubdirectoryQueue queue;
    queue.Append(path);
    EXPECT_EQ(static_cast<const char*>(queue.Head()->path), static_cast<const char*>(path));
    EXPECT_EQ(path.GetRefCount(), 2);
  }
  EXPECT_EQ(path.GetRefCount(), 1);
}

// A directory with n subdirectories costs one allocation per ten of them,
// all released with the queue.
TEST(SubdirectoryQueueTest, QueuingCostsOneAllocationPerTenPaths) {
  const std::vector<CString> paths = Paths(21);
  for (const int count : {1, 10, 11, 20, 21}) {
    SCOPED_TRACE(std::to_string(count) + " paths");
    Scope counter;
    {
      SubdirectoryQueue queue;
      for (int i = 0; i < count; ++i) queue.Append(paths[static_cast<std::size_t>(i)]);
    }
    EXPECT_EQ(counter.Allocations(), (count + 9) / 10);
    EXPECT_EQ(counter.Releases(), counter.Allocations());
  }
}

TEST(SubdirectoryQueueTest, ClearReleasesEverythingTheQueueHeldAndTheQueueStaysUsable) {
  const std::vector<CString> paths = Paths(12);
  SubdirectoryQueue queue;
  std::int64_t allocated = 0;
  {
    Scope counter;
    for (const CString& path : paths) queue.Append(path);
    allocated = counter.Allocations();
  }
  {
    Scope counter;
    queue.Clear();
    EXPECT_EQ(counter.Releases(), allocated);
  }
  EXPECT_EQ(queue.GetCount(), 0u);
  EXPECT_EQ(queue.Head(), nullptr);
  for (const CString& path : paths) EXPECT_EQ(path.GetRefCount(), 1);

  queue.Append(paths[5]);
  EXPECT_EQ(Walk(queue), std::vector<std::string>{"dir5"});
}

TEST(SubdirectoryQueueTest, ABlockThatCannotBeAllocatedRaisesOutOfMemoryAndChangesNothing) {
  const std::vector<CString> paths = Paths(11);
  for (const int held : {0, 10}) {
    SCOPED_TRACE(std::to_string(held) + " paths already queued");
    SubdirectoryQueue queue;
    for (int i = 0; i < held; ++i) queue.Append(paths[static_cast<std::size_t>(i)]);
    const std::vector<std::string> before = Walk(queue);
    try {
      FailAll noMemory;
      queue.Append(paths[10]);
      ADD_FAILURE() << "Append went on without a block";
    } catch (const HResultException& e) {
      EXPECT_EQ(e.GetResult(), E_OUTOFMEMORY);
    }
    EXPECT_EQ(queue.GetCount(), static_cast<DWORD>(held));
    EXPECT_EQ(Walk(queue), before);
    EXPECT_EQ(paths[10].GetRefCount(), 1);
  }
}

}  // namespace
