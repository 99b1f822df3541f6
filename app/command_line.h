// The six run flags, the option table bound to them, and the pre-scan of the
// command line for the starting path, a usage request, a version request and
// the long options that change the run (how files are stored, how listing
// lines end, whether mounts below the start are searched).
#pragma once

#include <array>

#include "app/option_table.h"

inline constexpr int kOptionCount = 6;

// Each flag at the value it has when its option is not given.
struct RunFlags {
  bool recursive = true;
  bool searchUncompressed = false;
  bool showHeader = true;
  bool showSummary = true;
  bool summaryOnly = false;
  bool fullPath = false;
};

// The rows in the order the usage text lists them; they point at flags, which
// must outlive the table.
std::array<OptionEntry, kOptionCount> MakeOptionTable(RunFlags& flags);

struct PreScan {
  const char* startPath;  // the last argument without a dash, in argv; "." when there is none
  // An argument "-u", "-U" or "-?", followed by anything, or exactly "-h" or "--help".
  bool usageRequested;
  bool longOptionsToo;    // the usage request was "--help": the long options are told too
  bool versionRequested;  // an argument exactly "--version"
  bool extents;           // an argument exactly "--extents"
  bool nullEnds;          // an argument exactly "--null"
  bool mounts;            // an argument exactly "--mounts"
};

// Whether argument is one of the long options that change the run
// ("--extents", "--null", "--mounts"), each taken whole and apart from the
// option table.
bool IsRunLongOption(const char* argument);

// Looks at the arguments in order, before any option takes effect, so that a
// usage request wins over everything else on the line, a version request over
// everything but a usage request; the scan stops at a usage request.
PreScan PreScanArguments(int argc, char* argv[]);
