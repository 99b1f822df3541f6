// The seam as the shipped program has it: the calls themselves.
#include "platform/posix/system_calls.h"

#include <dirent.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace system_calls {

int OpenAt(int directoryFd, const char* path, int flags) noexcept {
  return ::openat(directoryFd, path, flags);
}
long OpenAt2(int directoryFd, const char* path, struct open_how* how) noexcept {
  return ::syscall(SYS_openat2, directoryFd, path, how, sizeof *how);
}
ssize_t GetDents64(int directoryFd, void* buffer, std::size_t size) noexcept {
  return ::getdents64(directoryFd, buffer, size);
}
int Statx(int directoryFd, const char* path, int flags, unsigned mask,
          struct statx* status) noexcept {
  return ::statx(directoryFd, path, flags, mask, status);
}
ssize_t GetXattrAt(int directoryFd, const char* path, int atFlags, const char* name,
                   XattrArgs* args) noexcept {
  return ::syscall(kGetxattrat, directoryFd, path, atFlags, name, args, sizeof *args);
}
ssize_t LGetXattr(const char* path, const char* name, void* value, std::size_t size) noexcept {
  return ::lgetxattr(path, name, value, size);
}
void Reach(Point, const char*, long) noexcept {}
bool Holding() noexcept { return false; }

}  // namespace system_calls
