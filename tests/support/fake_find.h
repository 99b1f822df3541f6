// In-memory stand-in for the platform's directory enumeration
// (FindFirstFileA, FindNextFileA, FindClose) in tests of the search engine.
//
// Directories are registered by path, with their entries in the order the
// test picks. Every call is recorded. A call the engine should not make (on a
// handle FindFirstFileA never returned, on INVALID_HANDLE_VALUE, on a closed
// handle, FindNextFileA after it answered FALSE) and a handle still open when
// the fake goes away fail the running test. The fake ignores the pattern:
// every entry is listed, and tests read the pattern from the recorded
// specification. While a search runs the fake allocates nothing, so a test
// can count the engine's own allocations.
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
// A directory that is a reparse point with the given tag (a link, a mount point...).
FakeEntry FakeReparseDirectory(const char* name, DWORD tag);

struct FakeCall {
  enum Kind { kFindFirst, kFindNext, kFindClose };
  Kind kind;
  HANDLE handle;            // what FindFirstFileA answered, or what the other calls were given
  BOOL result;              // TRUE when FindFirstFileA answered a handle
  char specification[256];  // the argument of FindFirstFileA, empty for the others
};

// Joins parts with kPathSeparator: the path the engine should form.
std::string PlatformPath(std::initializer_list<const char*> parts);

class FakeFind {
 public:
  // Becomes the directory service of the process until destroyed; an
  // enclosing fake is restored then.
  FakeFind();
  ~FakeFind();
  FakeFind(const FakeFind&) = delete;
  FakeFind& operator=(const FakeFind&) = delete;

  // A specification finds the directory whose path is everything before its
  // last separator, or everything up to and including it. A directory with
  // no entries cannot be opened, like one never added.
  void AddDirectory(const std::string& path, std::vector<FakeEntry> entries);
  // From the given entry on, the directory's listing fails with
  // ERROR_ACCESS_DENIED instead of going on (from 0: it cannot be opened).
  void FailFrom(const std::string& path, std::size_t entryIndex);

  const std::vector<FakeCall>& Calls() const { return calls; }
  std::vector<std::string> Specifications() const;  // FindFirstFileA's arguments, in order
  int OpenHandles() const { return openCount; }
  int MostOpenHandles() const { return mostOpen; }

  HANDLE FindFirst(LPCSTR fileName, LPWIN32_FIND_DATAA findData);
  BOOL FindNext(HANDLE findFile, LPWIN32_FIND_DATAA findData);
  BOOL Close(HANDLE findFile);

 private:
  struct Directory {
    std::string path;
    std::vector<FakeEntry> entries;
    std::size_t failFrom;
  };
  struct Search {
    std::size_t directory;  // index into directories
    std::size_t next;
    bool ended;
    bool closed;
  };

  // Index of the directory a specification names, or -1.
  long Lookup(const char* specification) const;
  Search* SearchOf(HANDLE handle, const char* call);
  // Fills the record with the next entry; false at the end or at a failure.
  bool Advance(Search& search, LPWIN32_FIND_DATAA findData);
  void Record(FakeCall::Kind kind, HANDLE handle, BOOL result, const char* specification);

  FakeFind* enclosing;
  std::vector<Directory> directories;
  std::vector<Search> searches;  // handle (index + 1) * 16; handles are never reused
  std::vector<FakeCall> calls;
  int openCount = 0;
  int mostOpen = 0;
};
