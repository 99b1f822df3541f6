// Windows has neither the deadline command nor another user to drop to here:
// the tool runs as given, behind whatever launcher words a case passes.
#include "tests/support/tool_runner.h"

#include <filesystem>

std::vector<std::string> ToolCommand(const std::string& tool, const ToolLaunch& launch) {
  std::vector<std::string> command = launch.launcher;
  command.push_back(tool);
  return command;
}

std::vector<std::string> AsNobody() { return {}; }

std::string ToolForAnyUser(const std::string& tool, const std::string& folder) {
  const std::filesystem::path copy = std::filesystem::path(folder) / "packhound.exe";
  std::filesystem::copy_file(tool, copy);
  return copy.string();
}
