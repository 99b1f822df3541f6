#include "tests/support/compressed_flag.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

bool SetCompressedFlag(const std::string& path, std::string* why) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    *why = "cannot open " + path + ": " + std::strerror(errno);
    return false;
  }
  int flags = 0;
  bool done = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
  if (done) {
    flags |= FS_COMPR_FL;
    done = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
  }
  if (!done) {
    *why = "the file system here refuses the compressed flag (" +
           std::string(std::strerror(errno)) + ")";
  }
  ::close(fd);
  return done;
}
