#include "app/driver.h"

#include <new>

#include "app/console_reports.h"
#include "app/fatal_error.h"
#include "app/option_table.h"
#include "find/compressed_file_finder.h"
#include "find/hresult_exception.h"
#include "find/search_tally.h"
#include "platform/win32.h"

namespace {

constexpr int kOptionCount = 6;

// Whether an option argument asks for the usage text: "-u", "-U" or "-?"
// followed by anything.
bool IsUsageRequest(const char* argument) {
  const char c = argument[1];
  return c == 'u' || c == 'U' || c == '?';
}

int Search(int argc, char* argv[]) {
  bool recursive = true;
  bool searchUncompressed = false;
  bool showHeader = true;
  bool showSummary = true;
  bool summaryOnly = false;
  bool fullPath = false;

  const OptionEntry options[kOptionCount] = {
      {"nr", &recursive, false, "NonRecursive search."},
      {"su", &searchUncompressed, false, "specifies a Search for Uncompressed files."},
      {"nh", &showHeader, false, "No Header output."},
      {"ns", &showSummary, false, "No Summary output."},
      {"so", &summaryOnly, false, "Show summary report Only (no file listing)."},
      {"fp", &fullPath, false, "convert path to Fully qualified Path."},
  };

  // The path and a usage request come first, from the whole line, before any
  // option takes effect: a usage request wins over everything else.
  const char* startPath = ".";
  for (int i = 1; i < argc; ++i) {
    const char* argument = argv[i];
    if (argument == nullptr) continue;
    if (argument[0] != '-') {
      startPath = argument;
    } else if (IsUsageRequest(argument)) {
      ShowUsage(options, kOptionCount);
      return 0;
    }
  }

  ParseOptions(argc, argv, options, kOptionCount);

  searchTally.searchUncompressed = searchUncompressed;
  if (!showSummary && summaryOnly) FatalError("-so and -ns options are mutually exclusive", -1);
  searchTally.listFiles = !summaryOnly;

  // A full path that does not fit the buffer is not used: the search keeps
  // the path as given.
  char fullPathBuffer[kFullPathBufferSize];
  if (fullPath) {
    const DWORD length = GetFullPathNameA(startPath, kFullPathBufferSize, fullPathBuffer, nullptr);
    if (length != 0 && length < kFullPathBufferSize) startPath = fullPathBuffer;
  }

  if (showHeader) ShowHeader(recursive, startPath, searchUncompressed);

  CompressedFileFinder finder(startPath, "*.*");
  finder.SetRecursionMode(recursive ? QueuedRecursion : NoRecursion);
  if (finder.FindFirst()) {
    while (finder.ProcessCurrent()) {
      if (!finder.FindNext()) {
        finder.ProcessQueue();
        break;
      }
    }
  }

  if (showSummary) ShowSummary();
  return searchTally.foundCount;
}

}  // namespace

int PackhoundMain(int argc, char* argv[]) {
  // Out of memory anywhere in the run ends it with a message, never with an
  // escaping exception; no summary is printed for a search cut short. The
  // process ends after the handler, once the exception is gone.
  try {
    return Search(argc, argv);
  } catch (const HResultException&) {
  } catch (const std::bad_alloc&) {
  }
  FatalError(kOutOfMemoryMessage, -1);
}
