// Runs a program as a user would and collects what it printed and its status.
#pragma once

#include <string>
#include <vector>

struct ProcessResult {
  std::string out;
  std::string err;
  int exitStatus = -1;  // -1 also when the process did not end normally
};

enum class OutputTarget {
  kCaptured,  // standard output is read back
  kClosed,    // standard output is closed before the program starts
  kFullDevice,  // every write to standard output fails for lack of room
};

ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& arguments,
                         const std::string& workingDirectory,
                         OutputTarget output = OutputTarget::kCaptured);
