// Process-wide set-up that a console tool needs on POSIX.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include "platform/win32.h"

void PreparePortProcess() {
  // A closed pipe must only fail the write; the stream then records the error.
  ::signal(SIGPIPE, SIG_IGN);
  // A closed standard descriptor would be reused by the next open(), and the
  // console streams would then point at a directory or a file. Keep them taken.
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1) continue;
    const int spare = ::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
    if (spare != -1 && spare != fd) {
      ::dup2(spare, fd);
      ::close(spare);
    }
  }
}
