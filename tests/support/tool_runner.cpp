#include "tests/support/tool_runner.h"

#include <exception>

namespace {

// What the deadline command says when it kills the run.
constexpr char kDeadlineNotice[] = "timeout: sending signal";

}  // namespace

ProcessResult RunTool(const std::string& tool, const std::vector<std::string>& arguments,
                      const std::string& workingDirectory, const ToolLaunch& launch) {
  std::vector<std::string> command = ToolCommand(tool, launch);
  command.insert(command.end(), arguments.begin(), arguments.end());
  const std::string program = command.front();
  command.erase(command.begin());
  ProcessResult result;
  try {
    result =
        RunProcess(program, command, workingDirectory, launch.output, launch.watcher, launch.error);
  } catch (const std::exception& e) {
    result.err = e.what();
    return result;
  }
  if (result.err.find(kDeadlineNotice) != std::string::npos) result.exitStatus = -1;
  return result;
}
