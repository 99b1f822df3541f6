#include "find/file_finder.h"

bool FileFinder::Run() {
  if (!FindFirst()) return true;  // a directory that cannot be opened counts as empty
  do {
    // A stop leaves the rest of the directory and its queue untouched.
    if (!ProcessCurrent()) return false;
  } while (FindNext());
  return ProcessQueue();
}
