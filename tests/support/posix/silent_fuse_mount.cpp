#include "tests/support/posix/silent_fuse_mount.h"

#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

SilentFuseMount::SilentFuseMount(const std::filesystem::path& point, uid_t owner, bool allowOther)
    : mountPoint(point) {
  if (::geteuid() != 0) {
    whyNot = "mounting a FUSE file system needs root";
    return;
  }
  // Close on exec: a program the test starts must not hold the connection
  // open past Abort().
  device = ::open("/dev/fuse", O_RDWR | O_CLOEXEC);
  if (device < 0) {
    whyNot = "cannot open /dev/fuse: " + std::string(std::strerror(errno));
    return;
  }
  // A regular file is mounted on as a file system whose root is a file.
  const char* rootMode = std::filesystem::is_regular_file(point) ? "100000" : "40000";
  const std::string options = "fd=" + std::to_string(device) + ",rootmode=" + rootMode +
                              ",user_id=" + std::to_string(owner) +
                              ",group_id=" + std::to_string(owner) +
                              (allowOther ? ",allow_other" : "");
  if (::mount("packhound-fuse", point.c_str(), "fuse", MS_NOSUID | MS_NODEV, options.c_str()) !=
      0) {
    whyNot = "FUSE mount refused: " + std::string(std::strerror(errno));
    Abort();
  }
}

SilentFuseMount::~SilentFuseMount() {
  // Aborted first: with no thread left waiting on the connection, the
  // detach lets go of the file system at once.
  Abort();
  if (whyNot.empty()) ::umount2(mountPoint.c_str(), MNT_DETACH);
}

void SilentFuseMount::Abort() {
  if (device < 0) return;
  ::close(device);
  device = -1;
}
