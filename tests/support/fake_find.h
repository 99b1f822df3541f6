// In-memory stand-in for FindFirstFileA, FindNextFileA and FindClose in tests
// of the search engine. Directories are registered by path with entries in
// the order the test picks; every call is recorded. A call the engine should
// not make (on INVALID_HANDLE_VALUE, on a handle never handed out or already
// closed, FindNextFileA after it answered FALSE) and a search still open when
// the fake goes away fail the running test. A name longer than the record
// holds reaches it cut and unterminated, as the system's A calls leave it.
// The pattern is not applied: tests read it from the recorded specification.
// Calls allocate nothing, so a test can count the engine's own allocations.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <string>
#include <vector>

#include "platform/win32.h"

struct FakeEntry {
  std::string name;
  DWORD attributes;
  DWORD reparseTag;  // dwReserved0 of the record
};

FakeEntry FakeFile(const char* name, DWORD attributes = FILE_ATTRIBUTE_NORMAL);
FakeEntry FakeDirectory(const char* name);
FakeEntry FakeReparseDirectory(const char* name, DWORD tag);  // a link, a mount point...

// Joins parts with kPathSeparator: a path as the engine should form it.
std::string PlatformPath(std::initializer_list<const char*> parts);

struct FakeCall {
  enum Kind { kFindFirst, kFindNext, kFindClose };
  Kind kind;
  HANDLE handle;  // answered by FindFirstFileA, or given to the others
  BOOL result;
  char specification[256];  // FindFirstFileA's argument
};

class FakeFind {
 public:
  // The directory service of the process while it lives; an enclosing fake
  // comes back afterwards.
  FakeFind();
  ~FakeFind();
  FakeFind(const FakeFind&) = delete;
  FakeFind& operator=(const FakeFind&) = delete;

  // A specification names the directory whose path is what stands before its
  // last separator, with or without that separator. A directory without
  // entries cannot be opened, like one never added. After the last entry,
  // FindNextFileA answers FALSE with endError as the last error.
  void AddDirectory(const std::string& path, std::vector<FakeEntry> entries,
                    DWORD endError = ERROR_NO_MORE_FILES);
  // A directory that FindFirstFileA refuses with error.
  void AddUnopenableDirectory(const std::string& path, DWORD error);

  // Specifications longer than a FakeCall holds are recorded cut instead of
  // failing the test, for tests of paths that long.
  void RecordLongSpecificationsCut() { cutLongSpecifications = true; }

  const std::vector<FakeCall>& Calls() const { return calls; }
  std::vector<std::string> Specifications() const;  // of FindFirstFileA, in order
  int OpenHandles() const { return openCount; }
  int MostOpenHandles() const { return mostOpen; }

  HANDLE FindFirst(LPCSTR fileName, LPWIN32_FIND_DATAA findData);
  BOOL FindNext(HANDLE findFile, LPWIN32_FIND_DATAA findData);
  BOOL Close(HANDLE findFile);

 private:
  struct Directory {
    std::string path;
    std::vector<FakeEntry> entries;
    DWORD endError;
    DWORD openError;  // 0 when the directory opens
  };
  struct Search {
    std::size_t directory;  // index into directories
    std::size_t next;
    bool ended;
    bool closed;
  };

  long Lookup(const char* specification) const;  // index into directories, or -1
  Search* SearchOf(HANDLE handle, const char* call);
  void Record(FakeCall::Kind kind, HANDLE handle, BOOL result, const char* specification);

  FakeFind* enclosing;
  std::vector<Directory> directories;
  std::vector<Search> searches;  // handle (index + 1) * 16, never reused
  std::vector<FakeCall> calls;
  int openCount = 0;
  int mostOpen = 0;
  bool cutLongSpecifications = false;
};
