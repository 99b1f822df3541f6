#include "app/command_line.h"

#include <cstring>

namespace {

// The forms people type first are taken whole: "-help" or "--helpx" stay
// options like any other, and are rejected as today.
bool IsUsageRequest(const char* argument) {
  const char c = argument[1];
  return c == 'u' || c == 'U' || c == '?' || std::strcmp(argument, "-h") == 0 ||
         std::strcmp(argument, "--help") == 0;
}

}  // namespace

std::array<OptionEntry, kOptionCount> MakeOptionTable(RunFlags& flags) {
  return {{
      {"nr", &flags.recursive, false, "NonRecursive search."},
      {"su", &flags.searchUncompressed, false, "specifies a Search for Uncompressed files."},
      {"nh", &flags.showHeader, false, "No Header output."},
      {"ns", &flags.showSummary, false, "No Summary output."},
      {"so", &flags.summaryOnly, false, "Show summary report Only (no file listing)."},
      {"fp", &flags.fullPath, false, "convert path to Fully qualified Path."},
  }};
}

bool IsRunLongOption(const char* argument) {
  return std::strcmp(argument, "--extents") == 0 || std::strcmp(argument, "--null") == 0 ||
         std::strcmp(argument, "--mounts") == 0;
}

PreScan PreScanArguments(int argc, char* argv[]) {
  PreScan scan{".", false, false, false, false, false, false};
  for (int i = 1; i < argc; ++i) {
    const char* argument = argv[i];
    if (argument == nullptr) continue;
    if (argument[0] != '-') {
      scan.startPath = argument;
      continue;
    }
    if (IsUsageRequest(argument)) {
      scan.usageRequested = true;
      scan.longOptionsToo = std::strcmp(argument, "--help") == 0;
      break;
    }
    if (std::strcmp(argument, "--version") == 0) scan.versionRequested = true;
    if (std::strcmp(argument, "--extents") == 0) scan.extents = true;
    if (std::strcmp(argument, "--null") == 0) scan.nullEnds = true;
    if (std::strcmp(argument, "--mounts") == 0) scan.mounts = true;
  }
  return scan;
}
