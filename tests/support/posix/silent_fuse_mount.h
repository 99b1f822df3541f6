// A FUSE file system that never answers: mounted on /dev/fuse with no
// daemon behind it, so that the kernel's first request waits for ever, as
// under a daemon stopped with SIGSTOP. Needs root.
//
// What tests rely on:
// - Without allowOther, and owned by another user than the caller, every
//   statx of the mount point or below it answers EACCES at once, root's
//   too: the kernel refuses before it would send a request.
// - With allowOther, a lookup inside it (a statx of "point/x") waits until
//   Abort() or the object goes, then fails with ENOTCONN.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>

class SilentFuseMount {
 public:
  // point is an existing empty directory, or a regular file (the mount's
  // root is then a file); owner is the user the mount belongs to (its group
  // the same number, as nobody's is).
  SilentFuseMount(const std::filesystem::path& point, uid_t owner, bool allowOther);
  // Aborts first, so that no thread stays blocked in it, then detaches.
  ~SilentFuseMount();
  SilentFuseMount(const SilentFuseMount&) = delete;
  SilentFuseMount& operator=(const SilentFuseMount&) = delete;

  // Closes the device: every request waiting on it, and every later one,
  // fails with ENOTCONN. Idempotent; the mount stays until the object goes.
  void Abort();

  std::string whyNot;  // empty when mounted
  std::filesystem::path mountPoint;

 private:
  int device = -1;  // the /dev/fuse descriptor, owned; -1 once aborted
};
