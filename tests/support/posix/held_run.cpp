#include "tests/support/posix/held_run.h"

#include <signal.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "tests/support/temp_tree.h"

namespace fs = std::filesystem;

namespace {

struct NamedPoint {
  const char* name;
  system_calls::Point point;
};

constexpr NamedPoint kPoints[] = {
    {"opening-ahead", system_calls::Point::kOpeningAhead},
    {"opened-ahead", system_calls::Point::kOpenedAhead},
    {"opening-in-line", system_calls::Point::kOpeningInLine},
    {"reading", system_calls::Point::kReading},
    {"checking-freshness", system_calls::Point::kCheckingFreshness},
    {"asking-how-stored", system_calls::Point::kAskingHowStored},
    {"asked", system_calls::Point::kAskedFor},
};

// Whether each thread of process pid is stopped.
bool Stopped(pid_t pid) {
  std::error_code error;
  fs::directory_iterator tasks("/proc/" + std::to_string(pid) + "/task", error);
  if (error) return false;
  bool any = false;
  for (const fs::directory_entry& task : tasks) {
    std::ifstream stat(task.path() / "stat");
    const std::string text{std::istreambuf_iterator<char>(stat), {}};
    if (text.find(") T ") == std::string::npos) return false;
    any = true;
  }
  return any;
}

}  // namespace

bool PointNamed(const std::string& name, system_calls::Point& point) {
  for (const NamedPoint& each : kPoints) {
    if (name == each.name) {
      point = each.point;
      return true;
    }
  }
  return false;
}

ProcessResult RunHeld(const std::string& tool, const std::vector<std::string>& arguments,
                      const std::string& workingDirectory, unsigned threads,
                      const std::string& point, const std::string& name,
                      const std::function<void()>& change, bool& held, ToolLaunch launch) {
  const TempTree folder;
  const std::string pidFile = (folder.Root() / "pid").string();
  std::vector<std::string> words = {"/usr/bin/env",
                                    "PACKHOUND_THREADS=" + std::to_string(threads),
                                    "PACKHOUND_HOLD_AT=" + point + ":" + name,
                                    "/bin/bash",
                                    "-c",
                                    "echo $$ > '" + pidFile + "'; exec \"$0\" \"$@\""};
  words.insert(words.end(), launch.launcher.begin(), launch.launcher.end());
  launch.launcher = words;
  held = false;
  std::atomic<bool> over{false};
  // Waits for the stop beside the run: the hold may come before any output.
  std::thread holder([&] {
    pid_t pid = -1;
    while (!over && pid <= 0) {
      std::ifstream(pidFile) >> pid;
      if (pid <= 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    while (!over && !Stopped(pid)) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (over) return;
    held = true;
    change();
    ::kill(pid, SIGCONT);
  });
  const ProcessResult result = RunTool(tool, arguments, workingDirectory, launch);
  over = true;
  holder.join();
  return result;
}
