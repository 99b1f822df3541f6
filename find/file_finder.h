// The abstract finder and the loop that drives it. Every operation answering
// bool answers true to let the search go on and false to stop the whole search.
#pragma once

enum RecursionMode : int {
  NoRecursion = 0,         // subdirectories are skipped
  ImmediateRecursion = 1,  // each subdirectory is searched when the enumeration meets it
  QueuedRecursion = 2,     // subdirectories are searched after the directory's own entries
};

class FileFinder {
 public:
  virtual ~FileFinder() = default;

  // Any value other than the three modes behaves as NoRecursion.
  virtual void SetRecursionMode(int mode) = 0;
  virtual bool FindFirst() = 0;
  virtual bool FindNext() = 0;
  virtual bool ProcessCurrent() = 0;
  virtual bool ProcessQueue() = 0;

  // Searches the directory: true when it cannot be opened (it counts as empty),
  // false as soon as any step answers false. Not meant to be overridden.
  virtual bool Run();
};
