#include "app/driver.h"

#include <array>
#include <cstddef>
#include <memory>
#include <new>

#include "app/command_line.h"
#include "app/console_reports.h"
#include "app/fatal_error.h"
#include "app/full_path.h"
#include "app/option_table.h"
#include "find/compressed_file_finder.h"
#include "find/console_lines.h"
#include "find/hresult_exception.h"
#include "find/search_error.h"
#include "find/search_tally.h"
#include "platform/port.h"
#include "platform/win32.h"
#include "text/cstring.h"

namespace {

// Ends the run on a starting directory that cannot be searched, named as the
// user gave it.
[[noreturn]] void CannotSearch(const char* path, DWORD error) {
  char words[kSearchErrorRoom];
  // Kept where the normal exit releases it, as the message of a rejected option is.
  static CString message;
  const bool formatted =
      message.Format("Cannot search %s: %s", path, SearchErrorText(error, words));
  FatalError(formatted ? static_cast<const char*>(message) : kOutOfMemoryMessage, -1);
}

// Searches startPath as flags say: header, listing, summary. Answers false,
// with nothing printed and the reason in error, when the starting directory
// cannot be searched.
bool SearchFrom(const char* startPath, const RunFlags& flags, DWORD& error) {
  CompressedFileFinder finder(startPath, "*.*");
  finder.SetRecursionMode(flags.recursive ? QueuedRecursion : NoRecursion);
  // Opened before anything is printed, so that a run that cannot search its
  // starting directory ends with the error alone, as every other fatal error
  // does. An empty directory, or an empty drive's root, is searched all the same.
  const bool found = finder.FindFirst();
  if (!found && !IsEndOfListing(finder.GetSearchError())) {
    error = finder.GetSearchError();
    return false;
  }

  if (flags.showHeader) ShowHeader(flags.recursive, startPath, flags.searchUncompressed);
  searchTally.directoryCount = 1;
  // A header nobody reads would not be followed by a walk either.
  if (found && !consoleLines.OutputFailed()) {
    consoleLines.StartProgress(searchTally, searchTally.listFiles);
    while (finder.ProcessCurrent()) {
      if (!finder.FindNext()) {
        finder.ProcessQueue();
        break;
      }
    }
    consoleLines.EndProgress();
  }
  // A run whose output failed ends there: no summary of a listing cut short.
  if (consoleLines.OutputFailed()) return true;
  if (flags.showSummary) ShowSummary();
  return true;
}

// The arguments the option table parses: all but the long options, which
// are no rows of it. Kept in argv's own order, argv[0] first.
std::unique_ptr<char* []> TableArguments(int argc, char* argv[], int& count) {
  std::unique_ptr<char*[]> arguments(new char*[static_cast<std::size_t>(argc) + 1]);
  count = 0;
  for (int i = 0; i < argc; ++i) {
    if (i == 0 || argv[i] == nullptr || !IsRunLongOption(argv[i])) arguments[count++] = argv[i];
  }
  arguments[count] = nullptr;
  return arguments;
}

int Search(int argc, char* argv[]) {
  consoleLines.Open();
  RunFlags flags;
  const std::array<OptionEntry, kOptionCount> options = MakeOptionTable(flags);

  const PreScan scan = PreScanArguments(argc, argv);
  if (scan.usageRequested) {
    ShowUsage(options.data(), kOptionCount);
    if (scan.longOptionsToo) ShowLongOptions();
    return consoleLines.OutputFailed() ? -1 : 0;
  }
  if (scan.versionRequested) {
    ShowBanner();
    return consoleLines.OutputFailed() ? -1 : 0;
  }
  const char* startPath = scan.startPath;

  if (scan.extents || scan.nullEnds || scan.mounts) {
    int tableArgumentCount = 0;
    const std::unique_ptr<char*[]> tableArguments = TableArguments(argc, argv, tableArgumentCount);
    ParseOptions(tableArgumentCount, tableArguments.get(), options.data(), kOptionCount);
  } else {
    ParseOptions(argc, argv, options.data(), kOptionCount);
  }
  if (scan.extents) AskHowFilesAreStored();
  if (scan.mounts) SearchMountsBelow();
  searchTally.listEndsWithNull = scan.nullEnds;

  searchTally.searchUncompressed = flags.searchUncompressed;
  if (!flags.showSummary && flags.summaryOnly)
    FatalError("-so and -ns options are mutually exclusive", -1);
  searchTally.listFiles = !flags.summaryOnly;

  DWORD error = 0;
  bool searched;
  {
    // Lives as long as the search that starts from it, and no longer: the
    // process ends on a fatal error without unwinding, and would leave it.
    CString fullPath;
    if (flags.fullPath && MakeFullPath(startPath, fullPath)) startPath = fullPath;
    searched = SearchFrom(startPath, flags, error);
  }
  if (!searched) CannotSearch(scan.startPath, error);
  // Output that did not arrive is no result: the count would pass for one.
  if (consoleLines.OutputFailed()) return -1;
  // Asked once the walk has ended, of the directories it searched.
  ShowClosingLines(!scan.extents && FilesCompressedByMountOption());
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
