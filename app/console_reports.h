// The fixed reports on standard output: banner, usage text, the header line
// before a search and the summary line after it; and the lines that close a
// run on standard error. Each line is written with its newline and flushed
// at once; once a write to standard output has failed, nothing more is
// written there (consoleLines says so).
#pragma once

#include "app/option_table.h"

// The banner alone: the name, the version from the resource, the maker.
void ShowBanner();
// The banner, then the usage text.
void ShowUsage(const OptionEntry* table, int count);
// The long options and what the exit status means, after the usage text,
// for "--help".
void ShowLongOptions();
void ShowHeader(bool recursive, const char* path, bool searchUncompressed);
// Reads the counters and the search kind from searchTally.
void ShowSummary();
// On standard error, once the search has ended and its summary is out, the
// lines that close the run, read from searchTally: how many files could not
// be asked how they are stored, and so were judged by their attribute alone;
// how many mount points the walk passed over, where --mounts would search
// them; and, with compressedByMountOption, that btrfs compresses files there
// without the attribute, which --extents finds. Nothing for what did not
// happen.
void ShowClosingLines(bool compressedByMountOption);
