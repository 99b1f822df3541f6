// Runs the tool under test as a user would, under a deadline, behind the
// launcher words a case needs (another user, lower limits), and behind the
// wrapper named by the environment variable PACKHOUND_TEST_WRAPPER, if set:
// its words (for instance "valgrind -q --leak-check=full --error-exitcode=1")
// go right in front of the tool, so that every run of it is checked.
#pragma once

#include <string>
#include <vector>

#include "tests/support/process_runner.h"

struct ToolLaunch {
  std::vector<std::string> launcher;  // absolute program path first
  OutputTarget output = OutputTarget::kCaptured;
  ErrorTarget error = ErrorTarget::kCaptured;
  int deadlineSeconds = 120;  // multiplied when a wrapper slows the tool down
  OutputWatcher watcher;      // none when empty
};

// The whole command line that runs tool: deadline, launcher, wrapper, tool.
std::vector<std::string> ToolCommand(const std::string& tool, const ToolLaunch& launch = {});

// A run that passed its deadline is killed and reports exit status -1, as a
// crash does; so does one that could not start.
ProcessResult RunTool(const std::string& tool, const std::vector<std::string>& arguments,
                      const std::string& workingDirectory, const ToolLaunch& launch = {});

// Words that drop to the unprivileged user nobody (65534) before the tool
// starts; empty when the tests do not run as root.
std::vector<std::string> AsNobody();

// Words that run the rest with the walk on that many threads
// (PACKHOUND_THREADS), to follow AsNobody's or stand alone.
std::vector<std::string> WithThreads(unsigned threads);

// A copy of tool in folder, which every user may enter: another user must
// be able to run the tool, wherever the build lives. Answers its path.
std::string ToolForAnyUser(const std::string& tool, const std::string& folder);
