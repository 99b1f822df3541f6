#include "tests/support/fake_find.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string_view>

namespace {

FakeFind* current = nullptr;

// Reserved up front, so that recording never allocates.
constexpr std::size_t kCallRoom = 4096;
constexpr std::size_t kSearchRoom = 1024;

HANDLE HandleOf(std::size_t index) {
  return reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(index + 1) * 16);
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
    if (!search.closed)
      ADD_FAILURE() << "a search of " << directories[search.directory].path << " was never closed";
  }
  current = enclosing;
}

void FakeFind::AddDirectory(const std::string& path, std::vector<FakeEntry> entries,
                            DWORD endError) {
  directories.push_back({path, std::move(entries), endError, 0});
}

void FakeFind::AddUnopenableDirectory(const std::string& path, DWORD error) {
  directories.push_back({path, {}, ERROR_NO_MORE_FILES, error});
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
    ADD_FAILURE() << "more calls than the fake has room for";
    return;
  }
  FakeCall call{kind, handle, result, {}};
  if (specification != nullptr) {
    if (!cutLongSpecifications && std::strlen(specification) >= sizeof call.specification) {
      ADD_FAILURE() << "too long";
    }
    std::strncpy(call.specification, specification, sizeof call.specification - 1);
  }
  calls.push_back(call);
}

FakeFind::Search* FakeFind::SearchOf(HANDLE handle, const char* call) {
  const auto value = reinterpret_cast<std::uintptr_t>(handle);
  if (handle == INVALID_HANDLE_VALUE) {
    ADD_FAILURE() << call << " on INVALID_HANDLE_VALUE";
  } else if (value == 0 || value % 16 != 0 || value / 16 > searches.size()) {
    ADD_FAILURE() << call << " on a handle FindFirstFileA never answered";
  } else if (Search& search = searches[value / 16 - 1]; search.closed) {
    ADD_FAILURE() << call << " on the closed search of " << directories[search.directory].path;
  } else {
    return &search;
  }
  return nullptr;
}

HANDLE FakeFind::FindFirst(LPCSTR fileName, LPWIN32_FIND_DATAA findData) {
  if (fileName == nullptr || findData == nullptr) {
    ADD_FAILURE() << "FindFirstFileA without a specification or a record";
    return INVALID_HANDLE_VALUE;
  }
  const long index = Lookup(fileName);
  const Directory* directory = index < 0 ? nullptr : &directories[static_cast<std::size_t>(index)];
  if (directory == nullptr || directory->openError != 0 || directory->entries.empty() ||
      searches.size() == searches.capacity()) {
    Record(FakeCall::kFindFirst, INVALID_HANDLE_VALUE, FALSE, fileName);
    SetLastError(directory == nullptr        ? ERROR_PATH_NOT_FOUND
                 : directory->openError != 0 ? directory->openError
                                             : ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  searches.push_back({static_cast<std::size_t>(index), 0, false, false});
  const HANDLE handle = HandleOf(searches.size() - 1);
  Record(FakeCall::kFindFirst, handle, TRUE, fileName);
  if (++openCount > mostOpen) mostOpen = openCount;
  FindNext(handle, findData);
  calls.pop_back();  // the first entry comes with FindFirstFileA, not from a call of its own
  return handle;
}

BOOL FakeFind::FindNext(HANDLE findFile, LPWIN32_FIND_DATAA findData) {
  Search* search = SearchOf(findFile, "FindNextFileA");
  if (search != nullptr && search->ended) {
    ADD_FAILURE() << "FindNextFileA after it answered FALSE for "
                  << directories[search->directory].path;
    search = nullptr;
  }
  const std::vector<FakeEntry>* entries =
      search != nullptr ? &directories[search->directory].entries : nullptr;
  if (entries == nullptr || search->next >= entries->size()) {
    if (search != nullptr) search->ended = true;
    Record(FakeCall::kFindNext, findFile, FALSE, nullptr);
    SetLastError(search != nullptr ? directories[search->directory].endError
                                   : ERROR_INVALID_HANDLE);
    return FALSE;
  }
  const FakeEntry& entry = (*entries)[search->next++];
  // As the system's conversion into the record does it, a name longer than
  // the record is cut to the whole characters that fit in all but its last
  // two bytes (one character each here), with no terminator, and the rest
  // of the field keeps what it held.
  char name[MAX_PATH];
  std::memcpy(name, findData->cFileName, MAX_PATH);
  *findData = WIN32_FIND_DATAA{};
  std::memcpy(findData->cFileName, name, MAX_PATH);
  findData->dwFileAttributes = entry.attributes;
  findData->dwReserved0 = entry.reparseTag;
  if (entry.name.size() < MAX_PATH) {
    std::memcpy(findData->cFileName, entry.name.c_str(), entry.name.size() + 1);
  } else {
    std::memcpy(findData->cFileName, entry.name.data(), MAX_PATH - 2);
  }
  Record(FakeCall::kFindNext, findFile, TRUE, nullptr);
  return TRUE;
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
  ADD_FAILURE() << "FindFirstFileA without a FakeFind";
  return INVALID_HANDLE_VALUE;
}

BOOL FindNextFileA(HANDLE findFile, LPWIN32_FIND_DATAA findData) {
  if (current != nullptr) return current->FindNext(findFile, findData);
  ADD_FAILURE() << "FindNextFileA without a FakeFind";
  return FALSE;
}

BOOL FindClose(HANDLE findFile) {
  if (current != nullptr) return current->Close(findFile);
  ADD_FAILURE() << "FindClose without a FakeFind";
  return FALSE;
}
