// The fixed reports on standard output: banner, usage text, the header
// line before a search and the summary line after it. Each line is written
// with its newline and flushed at once; once a write has failed, nothing more
// is written there (consoleLines says so).
#pragma once

#include "app/option_table.h"

// The banner alone: the name, the version from the resource, the maker.
void ShowBanner();
// The banner, then the usage text.
void ShowUsage(const OptionEntry* table, int count);
// The long options, after the usage text, for "--help".
void ShowLongOptions();
void ShowHeader(bool recursive, const char* path, bool searchUncompressed);
// Reads the counters and the search kind from searchTally.
void ShowSummary();
// On standard error, once the search has ended: how many files could not be
// asked how they are stored, and so were judged by their attribute alone.
// Nothing when there were none.
void ShowFilesJudgedByAttribute(unsigned long long count);
