#include "app/console_reports.h"

#include <iostream>

#include "find/console_lines.h"
#include "find/search_tally.h"
#include "platform/port.h"
#include "version/version_info.h"

namespace {

constexpr char kProgramName[] = "Packhound";

// Ends the line under construction and puts it out. After a failed write
// nothing more reaches the stream, and the caller ends the run.
void EndLine() {
  std::cout << '\n';
  consoleLines.FlushOutput();
}

}  // namespace

void ShowBanner() {
  const VersionInfo version;
  std::cout << kProgramName << " Version "
            << static_cast<const char*>(version.GetDottedFileVersion()) << " By Mistlake";
  EndLine();
}

void ShowUsage(const OptionEntry* table, int count) {
  ShowBanner();
  EndLine();
  std::cout << kProgramName << " [-u] [path] [-su] [-nr] [-nh] [[-ns] | [-so]] [-fp]";
  EndLine();
  std::cout << "  Where: ";
  EndLine();
  std::cout << "     u\t\tPrints usage information, then exits.";
  EndLine();
  std::cout << "     path\tis the starting path (defaults to current working directory.)";
  EndLine();
  for (int row = 0; row < count; ++row) {
    std::cout << "     " << table[row].name << "\t\t" << table[row].description
              << " (Default: " << (table[row].defaultOn ? "ON" : "OFF") << ")";
    EndLine();
  }
  EndLine();
  std::cout << "Made by Mistlake.";
  EndLine();
}

void ShowLongOptions() {
  static constexpr const char* kLines[] = {
      "",
      "Long options, written out in full, anywhere on the line:",
      "     --help\tPrints this usage information, then exits.",
      "     --version\tPrints the version line, then exits.",
      "     --extents\tAlso counts a file as compressed when its file system stores its",
      "     \t\tdata compressed with no attribute to say so (btrfs, and NTFS's",
      "     \t\toverlay compression); each file there is asked, and one that",
      "     \t\tcannot be is judged by its attribute alone. (Default: OFF)",
      "     --null\tEnds each listed path with a NUL byte instead of a newline, so",
      "     \t\tthat xargs -0 takes every name whole. (Default: OFF)",
      "     --mounts\tAlso searches the file systems mounted below the path, which",
      "     \t\tare otherwise passed over (Linux). (Default: OFF)",
      "",
      "Exit status: the number of matching files, 254 for 254 or more (Windows: the",
      "count itself); 0 after this usage text; 255 after an error (Windows: -1).",
      "A match is a non-zero status, which if, set -e and xargs take for a failure.",
  };
  for (const char* line : kLines) {
    std::cout << line;
    EndLine();
  }
}

void ShowHeader(bool recursive, const char* path, bool searchUncompressed) {
  std::cout << (recursive ? "Recursive" : "Nonrecursive") << " search of ";
  WriteShown(std::cout, path, consoleLines.OutputIsTerminal());
  std::cout << " for " << (searchUncompressed ? "uncompressed" : "compressed") << " files.";
  EndLine();
}

void ShowSummary() {
  std::cout << "Found " << searchTally.foundCount << (searchTally.searchUncompressed ? " un" : " ")
            << "compressed files in " << searchTally.examinedCount << " items examined. ";
  EndLine();
}

void ShowClosingLines(bool compressedByMountOption) {
  if (const unsigned long long count = searchTally.judgedByAttributeCount) {
    std::cerr << kProgramName << ": " << count << (count == 1 ? " file" : " files")
              << " could not be opened; " << (count == 1 ? "its" : "their")
              << " attribute alone was used.\n"
              << std::flush;
  }
  if (const DWORD count = searchTally.mountPointCount; count != 0 && kMountsCanBeSearched) {
    const bool one = count == 1;
    std::cerr << kProgramName << ": " << count
              << (one ? " mount point was not searched ("
                      : " mount points were not searched (the first: ");
    WriteShown(std::cerr, searchTally.firstMountPoint, consoleLines.ErrorIsTerminal());
    std::cerr << "); --mounts searches " << (one ? "it" : "them") << ".\n" << std::flush;
  }
  if (compressedByMountOption) {
    std::cerr << kProgramName
              << ": btrfs compresses files here by its compress mount option, which sets no "
                 "attribute; --extents finds them.\n"
              << std::flush;
  }
}
