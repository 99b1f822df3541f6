// Walks a tree with the search engine over the real directory services, as
// the program does (queued recursion, pattern "*.*"), and prints the counts.
// Listing is off unless -l is given; -u counts uncompressed files instead.
#include <cstdio>
#include <cstring>

#include "find/compressed_file_finder.h"
#include "find/hresult_exception.h"
#include "find/search_tally.h"

int main(int argc, char* argv[]) {
  searchTally.listFiles = false;
  int argument = 1;
  for (; argument < argc && argv[argument][0] == '-'; ++argument) {
    if (std::strcmp(argv[argument], "-l") == 0) {
      searchTally.listFiles = true;
    } else if (std::strcmp(argv[argument], "-u") == 0) {
      searchTally.searchUncompressed = true;
    } else {
      break;
    }
  }
  if (argument + 1 != argc) {
    std::fprintf(stderr, "usage: walk_engine [-l] [-u] DIRECTORY\n");
    return 2;
  }
  try {
    CompressedFileFinder finder(argv[argument], "*.*");
    finder.SetRecursionMode(QueuedRecursion);
    finder.Run();
  } catch (const HResultException&) {
    std::fprintf(stderr, "walk_engine: out of memory\n");
    return 1;
  }
  std::fprintf(searchTally.listFiles ? stderr : stdout, "%ld found in %lu files\n",
               static_cast<long>(searchTally.foundCount),
               static_cast<unsigned long>(searchTally.examinedCount));
  return 0;
}
