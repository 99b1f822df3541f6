#include "tests/support/remove_tree.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

namespace {

// Empties the directory open as fd. Works relative to descriptors only, so
// that no path ever grows past what the kernel takes in one call.
void EmptyDirectory(int fd) {
  ::fchmod(fd, 0700);  // tests leave folders that cannot be listed or searched
  DIR* listing = ::fdopendir(::dup(fd));
  if (listing == nullptr) return;
  while (const dirent* entry = ::readdir(listing)) {
    const char* name = entry->d_name;
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
    if (::unlinkat(fd, name, 0) == 0) continue;
    const int child = ::openat(fd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (child < 0) continue;
    EmptyDirectory(child);
    ::close(child);
    ::unlinkat(fd, name, AT_REMOVEDIR);
  }
  ::closedir(listing);
}

}  // namespace

void RemoveTree(const std::string& root) {
  const int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    ::unlink(root.c_str());
    return;
  }
  EmptyDirectory(fd);
  ::close(fd);
  ::rmdir(root.c_str());
}
