// The memory the engine holds: the directory service failing for want of
// it, which the engine must not take for a directory that is empty or has
// ended, and what a deep branch costs.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "find/compressed_file_finder.h"
#include "find/directory_finder.h"
#include "find/hresult_exception.h"
#include "tests/support/failing_allocator.h"
#include "tests/support/fake_find.h"

namespace {

// What FindFirst then FindNext did: answered, or raised out of memory.
struct Outcome {
  std::optional<bool> first;  // empty: raised
  std::optional<bool> next;   // empty: raised, or not reached
};

Outcome Enumerate() {
  Outcome outcome;
  DirectoryFinder finder("dir", "*");
  try {
    outcome.first = finder.FindFirst();
    if (*outcome.first) outcome.next = finder.FindNext();
  } catch (const HResultException& e) {
    EXPECT_EQ(e.GetResult(), E_OUTOFMEMORY);
  }
  return outcome;
}

TEST(DirectoryFinderMemoryTest, OnlyAServiceOutOfMemoryRaisesTheOthersEndTheDirectory) {
  const struct {
    const char* name;
    DWORD openError;  // 0: the directory opens, with one entry
    DWORD endError;
    std::optional<bool> first;
    std::optional<bool> next;
  } rows[] = {
      {"directory not found", ERROR_PATH_NOT_FOUND, 0, false, std::nullopt},
      {"access denied", ERROR_ACCESS_DENIED, 0, false, std::nullopt},
      {"no memory to open", ERROR_NOT_ENOUGH_MEMORY, 0, std::nullopt, std::nullopt},
      {"end of the entries", 0, ERROR_NO_MORE_FILES, true, false},
      {"no memory to read on", 0, ERROR_NOT_ENOUGH_MEMORY, true, std::nullopt},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    FakeFind fake;
    if (row.openError != 0) {
      fake.AddUnopenableDirectory("dir", row.openError);
    } else {
      fake.AddDirectory("dir", {FakeFile("first")}, row.endError);
    }
    const Outcome outcome = Enumerate();
    EXPECT_EQ(outcome.first, row.first);
    EXPECT_EQ(outcome.next, row.next);
    EXPECT_EQ(fake.OpenHandles(), 0) << "a search left open";
  }
}

class GoingOnSink : public FinderSink {
 public:
  virtual ~GoingOnSink() = default;
  bool OnBeforeEnterDirectory(const char*) override { return true; }
  bool OnFile(const char*) override { return true; }
  bool OnEnterDirectory(const char*) override { return true; }
  bool OnLeaveDirectory(const char*) override { return true; }
  void SetFoundItem(FindDataItem&) override {}
};

// A branch whose paths are long next to everything else a level holds: the
// peak must stay well below two copies of every path of the branch, which
// is what a child copying the path its parent queued would hold.
TEST(DirectoryFinderMemoryTest, ADeepBranchHoldsEachLevelsPathOnce) {
  const std::string top(16000, 't');
  constexpr int kDepth = 24;
  FakeFind fake;
  fake.RecordLongSpecificationsCut();
  std::string path = top;
  std::int64_t pathBytes = 0;
  for (int level = 1; level <= kDepth; ++level) {
    const std::string name = "d" + std::to_string(level);
    fake.AddDirectory(path, {FakeDirectory(name.c_str())});
    path += kPathSeparator;
    path += name;
    pathBytes += static_cast<std::int64_t>(path.size());
  }
  fake.AddDirectory(path, {FakeFile("f")});

  GoingOnSink sink;
  const struct {
    const char* name;
    bool tally;  // CompressedFileFinder, its own sink; DirectoryFinder otherwise
    int mode;
  } rows[] = {
      {"DirectoryFinder, queued", false, QueuedRecursion},
      {"DirectoryFinder, immediate", false, ImmediateRecursion},
      {"CompressedFileFinder, queued", true, QueuedRecursion},
      {"CompressedFileFinder, immediate", true, ImmediateRecursion},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    failing_allocator::Scope counter;
    {
      std::unique_ptr<DirectoryFinder> finder;
      if (row.tally) {
        finder = std::make_unique<CompressedFileFinder>(top.c_str(), "*");
      } else {
        finder = std::make_unique<DirectoryFinder>(top.c_str(), "*");
        finder->SetSink(&sink);
      }
      finder->SetRecursionMode(row.mode);
      EXPECT_TRUE(finder->Run());
    }
    EXPECT_LT(counter.PeakBytes(), pathBytes * 3 / 2) << "paths of the branch: " << pathBytes;
  }
}

}  // namespace
