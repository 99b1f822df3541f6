// The least work that answers "how many files are compressed?" on Linux: one
// directory read per 64 KiB of listing and one statx per entry other than "."
// and "..", relative to the open directory. No file is opened, nothing is
// allocated, subdirectories are opened relative to their parent. Prints only
// the count. It is the reference the benchmark measures the walk against.
//
// With --extents, the least work that answers it counting files stored
// compressed too: besides, each regular file without the attribute is
// opened, asked for its extents once (FS_IOC_FIEMAP, up to 32), and closed.
//
//   floor [--extents] DIRECTORY
#define _GNU_SOURCE
#include <dirent.h>
#include <fcntl.h>
#include <linux/fiemap.h>
#include <linux/fs.h>
#include <stdio.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

static unsigned long compressedCount;
static int askExtents;

// Whether one of the first 32 extents of the file is stored encoded.
static int StoredEncoded(int directoryFd, const char* name) {
  const int fd = openat(directoryFd, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return 0;
  _Alignas(
      struct fiemap) unsigned char room[sizeof(struct fiemap) + 32 * sizeof(struct fiemap_extent)];
  struct fiemap* map = (struct fiemap*)room;
  memset(map, 0, sizeof *map);
  map->fm_length = FIEMAP_MAX_OFFSET;
  map->fm_extent_count = 32;
  int encoded = 0;
  if (ioctl(fd, FS_IOC_FIEMAP, map) == 0) {
    for (unsigned i = 0; i < map->fm_mapped_extents && !encoded; ++i) {
      encoded = (map->fm_extents[i].fe_flags & FIEMAP_EXTENT_ENCODED) != 0;
    }
  }
  close(fd);
  return encoded;
}

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
      } else if (askExtents && S_ISREG(status.stx_mode) && StoredEncoded(directoryFd, name)) {
        ++compressedCount;
      }
    }
  }
}

int main(int argc, char* argv[]) {
  askExtents = argc == 3 && strcmp(argv[1], "--extents") == 0;
  if (argc != 2 + askExtents) {
    fputs("usage: floor [--extents] DIRECTORY\n", stderr);
    return 2;
  }
  const char* top = argv[argc - 1];
  const int fd = open(top, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    perror(top);
    return 1;
  }
  Walk(fd);
  close(fd);
  printf("%lu\n", compressedCount);
  return 0;
}
