#include "app/driver.h"

#include <array>
#include <new>

#include "app/command_line.h"
#include "app/console_reports.h"
#include "app/fatal_error.h"
#include "app/full_path.h"
#include "app/option_table.h"
#include "find/compressed_file_finder.h"
#include "find/hresult_exception.h"
#include "find/search_tally.h"

namespace {

int Search(int argc, char* argv[]) {
  RunFlags flags;
  const std::array<OptionEntry, kOptionCount> options = MakeOptionTable(flags);

  const PreScan scan = PreScanArguments(argc, argv);
  if (scan.usageRequested) {
    ShowUsage(options.data(), kOptionCount);
    return 0;
  }
  const char* startPath = scan.startPath;

  ParseOptions(argc, argv, options.data(), kOptionCount);

  searchTally.searchUncompressed = flags.searchUncompressed;
  if (!flags.showSummary && flags.summaryOnly)
    FatalError("-so and -ns options are mutually exclusive", -1);
  searchTally.listFiles = !flags.summaryOnly;

  // Lives as long as the search that starts from it.
  CString fullPath;
  if (flags.fullPath && MakeFullPath(startPath, fullPath)) startPath = fullPath;

  if (flags.showHeader) ShowHeader(flags.recursive, startPath, flags.searchUncompressed);

  CompressedFileFinder finder(startPath, "*.*");
  finder.SetRecursionMode(flags.recursive ? QueuedRecursion : NoRecursion);
  if (finder.FindFirst()) {
    while (finder.ProcessCurrent()) {
      if (!finder.FindNext()) {
        finder.ProcessQueue();
        break;
      }
    }
  }

  if (flags.showSummary) ShowSummary();
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
