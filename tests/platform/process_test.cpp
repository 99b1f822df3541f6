// Process set-up of the POSIX layer, each case in a child process of its own.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/port.h"
#include "platform/win32.h"

namespace {

// Closes the standard descriptors in closed ("012" for all three), prepares
// the process, and tells by its exit status whether each one closed is taken
// by the null device and the next file opened got a number of its own.
[[noreturn]] void PrepareWithClosed(const std::string& closed) {
  for (const char fd : closed) ::close(fd - '0');
  PreparePortProcess();
  struct stat null;
  if (::stat("/dev/null", &null) != 0) std::_Exit(3);
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    struct stat status;
    if (::fstat(fd, &status) != 0) std::_Exit(10 + fd);
    if (closed.find(static_cast<char>('0' + fd)) != std::string::npos &&
        status.st_rdev != null.st_rdev) {
      std::_Exit(20 + fd);
    }
  }
  const int next = ::open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (next <= STDERR_FILENO) std::_Exit(4);
  std::_Exit(0);
}

TEST(ProcessDeathTest, ClosedStandardDescriptorsAreReservedBeforeAnythingIsOpened) {
  // Each child started afresh: nothing of the read-ahead's threads is copied into it.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  for (const char* closed : {"0", "1", "2", "12", "012"}) {
    SCOPED_TRACE(std::string("closed: ") + closed);
    EXPECT_EXIT(PrepareWithClosed(closed), ::testing::ExitedWithCode(0), "");
  }
}

}  // namespace
