// The least work that answers "how many files are compressed?" on Linux: one
// directory read per 64 KiB of listing and one statx per entry other than "."
// and "..", relative to the open directory. No file is opened, nothing is
// allocated, subdirectories are opened relative to their parent. Prints only
// the count. It is the reference the benchmark measures the walk against.
//
//   floor DIRECTORY
#define _GNU_SOURCE
#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

static unsigned long compressedCount;

static void Walk(int directoryFd) {
  // One batch per open directory; the tree is shallow enough for the stack.
  _Alignas(struct dirent64) char batch[64 * 1024];
  ssize_t length;
  while ((length = getdents64(directoryFd, batch, sizeof batch)) > 0) {
    for (ssize_t offset = 0; offset < length;) {
      const struct dirent64* entry = (const struct dirent64*)(batch + offset);
      offset += entry->d_reclen;
      const char* name = entry->d_name;
      if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) continue;
      struct statx status;
      if (statx(directoryFd, name, AT_SYMLINK_NOFOLLOW | AT_STATX_DONT_SYNC, STATX_TYPE, &status) !=
          0) {
        continue;
      }
      if (S_ISDIR(status.stx_mode)) {
        const int fd = openat(directoryFd, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd >= 0) {
          Walk(fd);
          close(fd);
        }
      } else if (status.stx_attributes & STATX_ATTR_COMPRESSED) {
        ++compressedCount;
      }
    }
  }
}

int main(int argc, char* argv[]) {
  if (argc != 2) {
    fputs("usage: floor DIRECTORY\n", stderr);
    return 2;
  }
  const int fd = open(argv[1], O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    perror(argv[1]);
    return 1;
  }
  Walk(fd);
  close(fd);
  printf("%lu\n", compressedCount);
  return 0;
}
