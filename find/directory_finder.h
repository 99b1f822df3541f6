// A finder over one directory: enumerates the entries that match its pattern,
// shows each to its sink, reports files by name, skips "." and "..", and
// treats every other subdirectory according to its recursion mode.
#pragma once

#include <cstddef>

#include "find/file_finder.h"
#include "find/finder_sink.h"
#include "find/found_item.h"
#include "find/subdirectory_queue.h"
#include "platform/win32.h"
#include "text/cstring.h"

class DirectoryFinder : public FileFinder {
 public:
  // Null texts count as empty. Throws HResultException (E_OUTOFMEMORY) when a
  // text cannot be copied.
  DirectoryFinder(const char* directoryText, const char* patternText);
  ~DirectoryFinder() override;
  DirectoryFinder(const DirectoryFinder&) = delete;
  DirectoryFinder& operator=(const DirectoryFinder&) = delete;

  void SetRecursionMode(int newMode) override;
  // Both throw HResultException (E_OUTOFMEMORY) when the platform lacked the
  // memory to open the directory or to read on in it. After a false answer
  // the last error says why: ERROR_NO_MORE_FILES at the end of the listing.
  bool FindFirst() override;
  bool FindNext() override;
  bool ProcessCurrent() override;
  bool ProcessQueue() override;

  // A new finder of the caller's ownership, of the most derived kind; null
  // when it cannot be allocated (RecurseInto then throws HResultException
  // carrying E_OUTOFMEMORY).
  virtual DirectoryFinder* CreateChild(const char* childDirectory, const char* childPattern);
  // Searches one subdirectory with a child finder that inherits pattern,
  // mode and sink.
  virtual bool RecurseInto(const char* path);

  // Whether a name joined to the first length characters of directoryText
  // needs the separator in between: always, unless they end in one.
  static bool NeedsSeparator(const char* directoryText, std::size_t length) noexcept {
    return length == 0 || directoryText[length - 1] != kPathSeparator;
  }

  // directory, the separator unless directory already ends in one, then name.
  // Throws HResultException (E_OUTOFMEMORY) when the path cannot be formed.
  static CString JoinPath(const char* directoryText, const char* name);

  // Not owned; null means no events are sent.
  void SetSink(FinderSink* newSink) noexcept { sink = newSink; }

 protected:
  // Shares both texts: a child searching a path its parent holds keeps no
  // copy of its own, so a deep branch holds each level's path once.
  DirectoryFinder(const CString& directoryPath, const CString& patternPath);

  // A text handed to CreateChild, as the child keeps it: shared when it is
  // the path this finder is recursing into or its own pattern, a copy
  // otherwise. Throws HResultException (E_OUTOFMEMORY) when the copy fails.
  CString ChildText(const char* text) const;

  FinderSink* sink;
  FindDataItem item;
  HANDLE searchHandle;
  WIN32_FIND_DATAA fetched;
  CString directory;
  CString pattern;
  int mode;
  SubdirectoryQueue subdirectories;

 private:
  bool HandleSubdirectory(const CString& path);
  // RecurseInto(path), with path known to ChildText for as long as it runs.
  bool RecurseIntoHeld(const CString& path);
  void CloseSearch() noexcept;

  const CString* descending;  // the path RecurseIntoHeld is searching, or null; not owned
};
