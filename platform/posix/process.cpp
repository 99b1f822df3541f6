// Process-wide set-up that a console tool needs on POSIX.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include "platform/port.h"
#include "platform/win32.h"

void PreparePortProcess() {
  // A closed pipe must only fail the write; the stream then records the error,
  // and the run ends quietly with the error status.
  ::signal(SIGPIPE, SIG_IGN);
  // A closed standard descriptor would be reused by the next open(), and the
  // console streams would then point at a directory or a file. Keep them taken.
  // Standard output is taken read-only, so that every write to it still fails
  // (EBADF) as it would have closed: its lines are the run's result, and their
  // loss must not pass for success. Standard error's writes may vanish.
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1) continue;
    const int spare = ::open("/dev/null", fd == STDERR_FILENO ? O_WRONLY : O_RDONLY);
    if (spare != -1 && spare != fd) {
      ::dup2(spare, fd);
      ::close(spare);
    }
  }
  // The walk holds a few frames per level of the branch it is in, and a tree
  // can be tens of thousands of levels deep. The main stack grows on demand up
  // to the soft limit: raised to the hard one, it lets memory, which the tool
  // reports cleanly, run out long before the stack does.
  struct rlimit stack;
  if (::getrlimit(RLIMIT_STACK, &stack) == 0 && stack.rlim_cur != stack.rlim_max) {
    stack.rlim_cur = stack.rlim_max;
    ::setrlimit(RLIMIT_STACK, &stack);
  }
}
