// Runs a program as a user would and collects what it printed and its status.
#pragma once

#include <functional>
#include <string>
#include <vector>

// How the platform's text streams end a line.
extern const char kNativeLineEnd[];

// Standard output and error with every native line end turned into "\n", so
// that expectations read the same everywhere; rawOut is output as written.
struct ProcessResult {
  std::string out;
  std::string err;
  std::string rawOut;
  int exitStatus = -1;  // -1 also when the process did not end normally
};

enum class OutputTarget {
  kCaptured,    // standard output is read back
  kClosed,      // standard output is closed before the program starts
  kFullDevice,  // every write to standard output fails for lack of room
  // A pipe of one page, closed by its reader once the first line is read:
  // the rest of what the program writes after that fails.
  kClosedAfterFirstLine,
  kTerminal,  // a pseudo-terminal, read back byte for byte (POSIX only)
};

enum class ErrorTarget {
  kCaptured,  // standard error is read back through a pipe
  kTerminal,  // through a pseudo-terminal of its own, byte for byte (POSIX only)
};

// Called while the program runs with its standard output as read so far,
// each time more of it has come in: lets a test change the tree at a point
// of the run that the output marks.
using OutputWatcher = std::function<void(const std::string& outSoFar)>;

// The program, its arguments and its working directory are UTF-8 text on
// Windows, bytes elsewhere.
ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& arguments,
                         const std::string& workingDirectory,
                         OutputTarget output = OutputTarget::kCaptured,
                         const OutputWatcher& watcher = {},
                         ErrorTarget error = ErrorTarget::kCaptured);
