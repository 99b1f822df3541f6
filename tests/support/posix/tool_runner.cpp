#include "tests/support/tool_runner.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>

namespace {

constexpr int kWrappedSlowdown = 20;

// The first word as an absolute path, looked up in PATH when it has no slash.
std::string Resolve(const std::string& program) {
  if (program.find('/') != std::string::npos) return program;
  const char* path = std::getenv("PATH");
  std::istringstream folders(path != nullptr ? path : "/usr/bin:/bin");
  for (std::string folder; std::getline(folders, folder, ':');) {
    const std::string candidate = folder + "/" + program;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return program;
}

std::vector<std::string> WrapperWords() {
  const char* wrapper = std::getenv("PACKHOUND_TEST_WRAPPER");
  std::vector<std::string> words;
  std::istringstream text(wrapper != nullptr ? wrapper : "");
  for (std::string word; text >> word;) words.push_back(word);
  if (!words.empty()) words.front() = Resolve(words.front());
  return words;
}

}  // namespace

std::vector<std::string> ToolCommand(const std::string& tool, const ToolLaunch& launch) {
  const std::vector<std::string> wrapper = WrapperWords();
  const int deadline = launch.deadlineSeconds * (wrapper.empty() ? 1 : kWrappedSlowdown);
  std::vector<std::string> command = {"/usr/bin/timeout", "--verbose", "--signal=KILL",
                                      std::to_string(deadline)};
  command.insert(command.end(), launch.launcher.begin(), launch.launcher.end());
  command.insert(command.end(), wrapper.begin(), wrapper.end());
  command.push_back(tool);
  return command;
}

std::vector<std::string> AsNobody() {
  if (::geteuid() != 0) return {};
  return {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--"};
}

std::vector<std::string> WithThreads(unsigned threads) {
  return {"/usr/bin/env", "PACKHOUND_THREADS=" + std::to_string(threads)};
}

std::string ToolForAnyUser(const std::string& tool, const std::string& folder) {
  const std::filesystem::path copy = std::filesystem::path(folder) / "packhound";
  std::filesystem::copy_file(tool, copy);
  ::chmod(folder.c_str(), 0755);
  return copy.string();
}
