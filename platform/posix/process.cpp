// Process-wide set-up that a console tool needs on POSIX.
#include <fcntl.h>
#include <malloc.h>
#include <signal.h>
#include <sys/resource.h>
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
  // The walk holds a few frames per level of the branch it is in, and a tree
  // can be tens of thousands of levels deep. The main stack grows on demand up
  // to the soft limit: raised to the hard one, it lets memory, which the tool
  // reports cleanly, run out long before the stack does.
  struct rlimit stack;
  if (::getrlimit(RLIMIT_STACK, &stack) == 0 && stack.rlim_cur != stack.rlim_max) {
    stack.rlim_cur = stack.rlim_max;
    ::setrlimit(RLIMIT_STACK, &stack);
  }
  // Going down a deep branch, each level briefly forms a path as long as the
  // branch (the search specification) at the top of the heap and frees it.
  // By default a large free top is handed back to the system, and a block
  // above the mmap threshold is mapped and unmapped each time, so every
  // level would fault its pages in afresh. Blocks up to 32 MiB (the most the
  // allocator takes) then come from the heap, and up to 64 MiB free at its
  // top is kept for the next level.
#if defined(M_TRIM_THRESHOLD) && defined(M_MMAP_THRESHOLD)
  ::mallopt(M_MMAP_THRESHOLD, 32 * 1024 * 1024);
  ::mallopt(M_TRIM_THRESHOLD, 64 * 1024 * 1024);
#endif
}
