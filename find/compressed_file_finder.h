// The program's own finder: a DirectoryFinder that is its own sink, counts
// examined and matching files in searchTally and writes one listing line per
// match on standard output, flushed at once.
#pragma once

#include "find/directory_finder.h"
#include "find/finder_sink.h"
#include "text/cstring.h"

class CompressedFileFinder : public DirectoryFinder, public FinderSink {
 public:
  CompressedFileFinder(const char* directoryText, const char* patternText);
  ~CompressedFileFinder() override;

  DirectoryFinder* CreateChild(const char* childDirectory, const char* childPattern) override;

  // All answer true: the tally never stops a search. OnEnterDirectory and
  // OnLeaveDirectory throw HResultException (E_OUTOFMEMORY) rather than list
  // files under a path they could not copy.
  bool OnBeforeEnterDirectory(const char* path) override;
  bool OnFile(const char* name) override;
  bool OnEnterDirectory(const char* path) override;
  bool OnLeaveDirectory(const char* path) override;
  void SetFoundItem(FindDataItem& item) override;

 private:
  void WriteListingLine(const char* name);

  CString currentDirectory;  // the directory whose files are being reported
  FindDataItem* foundItem;   // not owned
};
