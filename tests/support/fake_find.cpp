#include "tests/support/fake_find.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string_view>

namespace {

FakeFind* current = nullptr;

// Room reserved up front, so that recording a call never allocates.
constexpr std::size_t kCallRoom = 4096;
constexpr std::size_t kSearchRoom = 1024;

HANDLE HandleOf(std::size_t index) {
  return reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(index + 1) * 16);
}

// The search index behind a handle, or -1 for a value never handed out.
long IndexOf(HANDLE handle, std::size_t searchCount) {
  const auto value = reinterpret_cast<std::uintptr_t>(handle);
  if (value == 0 || value % 16 != 0 || value / 16 > searchCount) return -1;
  return static_cast<long>(value / 16 - 1);
}

}  // namespace

FakeEntry FakeFile(const char* name, DWORD attributes) { return {name, attributes, 0}; }

FakeEntry FakeDirectory(const char* name) { return {name, FILE_ATTRIBUTE_DIRECTORY, 0}; }

FakeEntry FakeReparseDirectory(const char* name, DWORD tag) {
  return {name, FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT, tag};
}

std::string PlatformPath(std::initializer_list<const char*> parts) {
  std::string path;
  for (const char* part : parts) {
    if (!path.empty()) path += kPathSeparator;
    path += part;
  }
  return path;
}

FakeFind::FakeFind() : enclosing(current) {
  searches.reserve(kSearchRoom);
  calls.reserve(kCallRoom);
  current = this;
}

FakeFind::~FakeFind() {
  for (const Search& search : searches) {
    if (!search.closed) {
      ADD_FAILURE() << "a search of " << directories[search.directory].path << " was never closed";
    }
  }
  current = enclosing;
}

void FakeFind::AddDirectory(const std::string& path, std::vector<FakeEntry> entries) {
  for (const FakeEntry& entry : entries) {
    if (entry.name.size() >= MAX_PATH)
      ADD_FAILURE() << "name too long for a record: " << entry.name;
  }
  directories.push_back({path, std::move(entries), SIZE_MAX});
}

void FakeFind::FailFrom(const std::string& path, std::size_t entryIndex) {
  for (Directory& directory : directories) {
    if (directory.path == path) directory.failFrom = entryIndex;
  }
}

std::vector<std::string> FakeFind::Specifications() const {
  std::vector<std::string> result;
  for (const FakeCall& call : calls) {
    if (call.kind == FakeCall::kFindFirst) result.emplace_back(call.specification);
  }
  return result;
}

long FakeFind::Lookup(const char* specification) const {
  const std::string_view text(specification);
  const std::size_t separator = text.rfind(kPathSeparator);
  if (separator == std::string_view::npos) return -1;
  for (const std::string_view key : {text.substr(0, separator), text.substr(0, separator + 1)}) {
    for (std::size_t index = 0; index < directories.size(); ++index) {
      if (directories[index].path == key) return static_cast<long>(index);
    }
  }
  return -1;
}

void FakeFind::Record(FakeCall::Kind kind, HANDLE handle, BOOL result, const char* specification) {
  if (calls.size() == calls.capacity()) {
    ADD_FAILURE() << "more directory calls than the fake has room for";
    return;
  }
  FakeCall call{kind, handle, result, {}};
  if (specification != nullptr) {
    if (std::strlen(specification) >= sizeof call.specification) {
      ADD_FAILURE() << "specification too long for the fake: " << specification;
    }
    std::strncpy(call.specification, specification, sizeof call.specification - 1);
  }
  calls.push_back(call);
}

FakeFind::Search* FakeFind::SearchOf(HANDLE handle, const char* call) {
  if (handle == INVALID_HANDLE_VALUE) {
    ADD_FAILURE() << call << " on INVALID_HANDLE_VALUE";
    return nullptr;
  }
  const long index = IndexOf(handle, searches.size());
  if (index < 0) {
    ADD_FAILURE() << call << " on a handle FindFirstFileA never answered";
    return nullptr;
  }
  Search& search = searches[static_cast<std::size_t>(index)];
  if (search.closed) {
    ADD_FAILURE() << call << " on the closed search of " << directories[search.directory].path;
    return nullptr;
  }
  return &search;
}

HANDLE FakeFind::FindFirst(LPCSTR fileName, LPWIN32_FIND_DATAA findData) {
  if (fileName == nullptr || findData == nullptr) {
    ADD_FAILURE() << "FindFirstFileA without a specification or a record";
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  const long index = Lookup(fileName);
  if (index < 0 || directories[static_cast<std::size_t>(index)].entries.empty() ||
      directories[static_cast<std::size_t>(index)].failFrom == 0) {
    Record(FakeCall::kFindFirst, INVALID_HANDLE_VALUE, FALSE, fileName);
    SetLastError(index < 0 ? ERROR_PATH_NOT_FOUND : ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  if (searches.size() == searches.capacity()) {
    ADD_FAILURE() << "more searches than the fake has room for";
    return INVALID_HANDLE_VALUE;
  }
  searches.push_back({static_cast<std::size_t>(index), 0, false, false});
  const HANDLE handle = HandleOf(searches.size() - 1);
  Record(FakeCall::kFindFirst, handle, TRUE, fileName);
  if (++openCount > mostOpen) mostOpen = openCount;
  Advance(searches.back(), findData);
  return handle;
}

bool FakeFind::Advance(Search& search, LPWIN32_FIND_DATAA findData) {
  const Directory& directory = directories[search.directory];
  if (search.next >= directory.entries.size() || search.next >= directory.failFrom) {
    search.ended = true;
    SetLastError(search.next >= directory.failFrom ? ERROR_ACCESS_DENIED : ERROR_NO_MORE_FILES);
    return false;
  }
  const FakeEntry& entry = directory.entries[search.next++];
  *findData = WIN32_FIND_DATAA{};
  findData->dwFileAttributes = entry.attributes;
  findData->dwReserved0 = entry.reparseTag;
  std::strncpy(findData->cFileName, entry.name.c_str(), MAX_PATH - 1);
  return true;
}

BOOL FakeFind::FindNext(HANDLE findFile, LPWIN32_FIND_DATAA findData) {
  Search* search = SearchOf(findFile, "FindNextFileA");
  if (search != nullptr && search->ended) {
    ADD_FAILURE() << "FindNextFileA after it answered FALSE for "
                  << directories[search->directory].path;
    search = nullptr;
  }
  if (search == nullptr || findData == nullptr) {
    Record(FakeCall::kFindNext, findFile, FALSE, nullptr);
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  const bool listed = Advance(*search, findData);
  Record(FakeCall::kFindNext, findFile, listed ? TRUE : FALSE, nullptr);
  return listed ? TRUE : FALSE;
}

BOOL FakeFind::Close(HANDLE findFile) {
  Search* search = SearchOf(findFile, "FindClose");
  Record(FakeCall::kFindClose, findFile, search != nullptr ? TRUE : FALSE, nullptr);
  if (search == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  search->closed = true;
  --openCount;
  return TRUE;
}

// The directory service of the test binary: whichever fake is current.
HANDLE FindFirstFileA(LPCSTR fileName, LPWIN32_FIND_DATAA findData) {
  if (current != nullptr) return current->FindFirst(fileName, findData);
  ADD_FAILURE() << "FindFirstFileA(" << (fileName != nullptr ? fileName : "null")
                << ") without a FakeFind";
  SetLastError(ERROR_PATH_NOT_FOUND);
  return INVALID_HANDLE_VALUE;
}

BOOL FindNextFileA(HANDLE findFile, LPWIN32_FIND_DATAA findData) {
  if (current != nullptr) return current->FindNext(findFile, findData);
  ADD_FAILURE() << "FindNextFileA without a FakeFind";
  SetLastError(ERROR_INVALID_HANDLE);
  return FALSE;
}

BOOL FindClose(HANDLE findFile) {
  if (current != nullptr) return current->Close(findFile);
  ADD_FAILURE() << "FindClose without a FakeFind";
  SetLastError(ERROR_INVALID_HANDLE);
  return FALSE;
}
