// The program's own finder: a DirectoryFinder that is its own sink, counts
// examined and matching files, and the mount points it passes over, in
// searchTally and writes one listing line per
// match on standard output, flushed at once; the search stops at the first
// line that cannot be written. A directory below the start that
// cannot be searched, or not to its end, gets one warning line on standard
// error instead, and the walk goes on.
#pragma once

#include <cstddef>

#include "find/directory_finder.h"
#include "find/finder_sink.h"
#include "text/cstring.h"

class CompressedFileFinder : public DirectoryFinder, public FinderSink {
 public:
  CompressedFileFinder(const char* directoryText, const char* patternText);
  ~CompressedFileFinder() override;

  DirectoryFinder* CreateChild(const char* childDirectory, const char* childPattern) override;

  // Both answer as DirectoryFinder's do, and warn of a failure other than the
  // end of the listing, except for the starting directory's FindFirst: the
  // caller decides about that one, from GetSearchError.
  bool FindFirst() override;
  bool FindNext() override;

  // Why the last FindFirst or FindNext answered false (see IsEndOfListing).
  DWORD GetSearchError() const noexcept { return searchError; }

  // All answer true, but OnFile answers false once a listing line could not be
  // written: nothing more can be reported. OnEnterDirectory and
  // OnLeaveDirectory throw HResultException (E_OUTOFMEMORY) rather than list
  // files under a path they could not copy.
  bool OnBeforeEnterDirectory(const char* path) override;
  bool OnFile(const char* name) override;
  bool OnEnterDirectory(const char* path) override;
  bool OnLeaveDirectory(const char* path) override;
  void SetFoundItem(FindDataItem& item) override;

 private:
  // A child's: shares the texts, as DirectoryFinder's does.
  CompressedFileFinder(const CString& directoryPath, const CString& patternPath);

  // currentDirectory becomes the first length characters of text.
  void SetCurrentDirectory(const char* text, std::size_t length);
  // Answers false when the line could not be written (ConsoleLines::FlushOutput).
  bool WriteListingLine(const char* name);
  // "Packhound: Cannot search <directory>: <reason>." on standard error.
  void WriteWarningLine() const;
  // "Packhound: Cannot read the attributes of <path>: <reason>." on standard error.
  void WriteUnreadableLine(const char* name, DWORD error) const;

  CString currentDirectory;  // the directory whose files are being reported
  FindDataItem* foundItem;   // not owned
  bool startingDirectory;    // made by the caller, not by CreateChild
  DWORD searchError;
};
