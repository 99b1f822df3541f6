// The directory service failing for want of memory, which the engine must
// not take for a directory that is empty or has ended.
#include <gtest/gtest.h>

#include <optional>

#include "find/directory_finder.h"
#include "find/hresult_exception.h"
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

}  // namespace
