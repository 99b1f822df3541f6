#include "tests/support/process_runner.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

extern char** environ;

const char kNativeLineEnd[] = "\n";

namespace {

// With firstLineOnly, standard output is closed as soon as its first line is in.
void ReadBoth(int outFd, int errFd, std::string& out, std::string& err,
              const OutputWatcher& watcher, bool firstLineOnly) {
  pollfd fds[2] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
  std::string* sinks[2] = {&out, &err};
  int open = (outFd >= 0) + (errFd >= 0);
  if (outFd < 0) fds[0].fd = -1;
  char buffer[65536];
  while (open > 0) {
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      throw std::runtime_error("poll failed");
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        sinks[i]->append(buffer, static_cast<std::size_t>(n));
        if (i == 0 && watcher) watcher(out);
      }
      const bool lineIn = i == 0 && firstLineOnly && out.find('\n') != std::string::npos;
      if (lineIn || n == 0 || (n < 0 && errno != EINTR)) {
        ::close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      }
    }
  }
}

// A pseudo-terminal that passes bytes as they are (no CR before LF): its
// end for the program in inner, the one to read it back from in outer.
void OpenTerminal(int& outer, int& inner) {
  struct termios raw;
  ::cfmakeraw(&raw);
  if (::openpty(&outer, &inner, nullptr, &raw, nullptr) != 0) {
    throw std::runtime_error("openpty failed");
  }
  ::fcntl(outer, F_SETFD, FD_CLOEXEC);
  ::fcntl(inner, F_SETFD, FD_CLOEXEC);
}

}  // namespace

ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& arguments,
                         const std::string& workingDirectory, OutputTarget output,
                         const OutputWatcher& watcher, ErrorTarget error) {
  int outPipe[2] = {-1, -1};
  int errPipe[2] = {-1, -1};
  if (error == ErrorTarget::kTerminal) {
    OpenTerminal(errPipe[0], errPipe[1]);
  } else if (::pipe2(errPipe, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe failed");
  }
  if (output == OutputTarget::kTerminal) OpenTerminal(outPipe[0], outPipe[1]);
  const bool piped =
      output == OutputTarget::kCaptured || output == OutputTarget::kClosedAfterFirstLine;
  if (piped && ::pipe2(outPipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  // One page holds a few lines: what follows must wait for the reader, who is gone by then.
  if (output == OutputTarget::kClosedAfterFirstLine) ::fcntl(outPipe[1], F_SETPIPE_SZ, 4096);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  switch (output) {
    case OutputTarget::kCaptured:
    case OutputTarget::kClosedAfterFirstLine:
    case OutputTarget::kTerminal:
      posix_spawn_file_actions_adddup2(&actions, outPipe[1], STDOUT_FILENO);
      break;
    case OutputTarget::kClosed:
      posix_spawn_file_actions_addclose(&actions, STDOUT_FILENO);
      break;
    case OutputTarget::kFullDevice:
      posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/full", O_WRONLY, 0);
      break;
  }
  posix_spawn_file_actions_adddup2(&actions, errPipe[1], STDERR_FILENO);
  posix_spawn_file_actions_addchdir_np(&actions, workingDirectory.c_str());

  std::vector<char*> argv;
  std::string name = program;
  argv.push_back(name.data());
  std::vector<std::string> copies(arguments);
  for (std::string& argument : copies) argv.push_back(argument.data());
  argv.push_back(nullptr);

  pid_t child = -1;
  const int spawned =
      ::posix_spawn(&child, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (outPipe[1] >= 0) ::close(outPipe[1]);
  ::close(errPipe[1]);
  if (spawned != 0) {
    if (outPipe[0] >= 0) ::close(outPipe[0]);
    ::close(errPipe[0]);
    throw std::runtime_error("cannot start " + program);
  }

  ProcessResult result;
  ReadBoth(outPipe[0], errPipe[0], result.out, result.err, watcher,
           output == OutputTarget::kClosedAfterFirstLine);
  result.rawOut = result.out;
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  result.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}
