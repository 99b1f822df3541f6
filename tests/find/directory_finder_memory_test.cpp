// The directory service failing for want of memory, which the engine must
// not take for a directory that is empty or has ended. A stand-in service of
// its own: the fake of the other engine tests answers only "not found".
#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>

#include "find/directory_finder.h"
#include "find/hresult_exception.h"
#include "platform/win32.h"

namespace {

// How the service answers for the directory the test names: its first call
// fails with firstError, or it hands out one entry and then fails with
// nextError.
DWORD firstError = 0;
DWORD nextError = ERROR_NO_MORE_FILES;
int openSearches = 0;
HANDLE const kHandle = reinterpret_cast<HANDLE>(0x1000);

}  // namespace

HANDLE FindFirstFileA(LPCSTR, LPWIN32_FIND_DATAA findData) {
  if (firstError != 0) {
    SetLastError(firstError);
    return INVALID_HANDLE_VALUE;
  }
  *findData = WIN32_FIND_DATAA{};
  findData->dwFileAttributes = FILE_ATTRIBUTE_NORMAL;
  std::strcpy(findData->cFileName, "first");
  ++openSearches;
  return kHandle;
}

BOOL FindNextFileA(HANDLE, LPWIN32_FIND_DATAA) {
  SetLastError(nextError);
  return FALSE;
}

BOOL FindClose(HANDLE) {
  --openSearches;
  return TRUE;
}

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
    DWORD firstError;
    DWORD nextError;
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
    firstError = row.firstError;
    nextError = row.nextError;
    const Outcome outcome = Enumerate();
    EXPECT_EQ(outcome.first, row.first);
    EXPECT_EQ(outcome.next, row.next);
    EXPECT_EQ(openSearches, 0) << "a search left open";
  }
}

}  // namespace
