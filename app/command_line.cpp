#include "app/command_line.h"

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

PreScan PreScanArguments(int argc, char* argv[]) {
  PreScan scan{".", false};
  for (int i = 1; i < argc; ++i) {
    const char* argument = argv[i];
    if (argument == nullptr) continue;
    if (argument[0] != '-') {
      scan.startPath = argument;
      continue;
    }
    const char c = argument[1];
    if (c == 'u' || c == 'U' || c == '?') {
      scan.usageRequested = true;
      break;
    }
  }
  return scan;
}
