// How a file's data is stored, asked of the file system: on btrfs mounted
// to compress, data is compressed extent by extent as it is written, and no
// attribute says so. When the run asks for it, a regular file counts as
// compressed when any of its extents is stored encoded: read by root from
// the file system's records of its inode (nothing opened), by anyone else
// with FIEMAP on the file opened. Both say the same of every file.
//
// Asked only where it can matter: btrfs is the one file system that
// compresses without the attribute and reports it through FIEMAP (f2fs,
// erofs and ubifs mark compressed files with the attribute itself; ext4,
// xfs and tmpfs never compress). Decided once a directory, from its own descriptor, so a
// walk elsewhere costs one fstatfs and nothing a file.
#pragma once

#include <sys/stat.h>

#include <atomic>
#include <cstdint>

// What asking about one file came to.
enum class Stored : std::uint8_t {
  kNotAsked,    // not a regular file, marked compressed already, or not asked for
  kPlain,       // no extent stored encoded
  kCompressed,  // an extent stored encoded
  kUnopened,    // could not be opened or asked about: judged by its attribute alone
  kShort,       // as kUnopened, for want of a descriptor or memory
};

namespace stored_compression {

// Whether the run asks how files are stored (AskHowFilesAreStored, before
// the walk); read by every thread that describes.
bool Asked();

}  // namespace stored_compression

// Whether the files of the open directory directoryFd are to be asked
// about: the run asks, and the directory's file system answers. device is
// the directory's, as its parent's listing said (0: not known): a device
// holds one file system, so each thread asks the file system of a device
// once, and a walk, which never crosses a mount, asks once in all.
bool AsksHowStored(int directoryFd, std::uint64_t device);

// Opens the regular file name of the open directory directoryFd (never a
// link, a FIFO, a device or a socket: status, as statx described it, must
// say it is a regular file) and asks how its data is stored: extents are
// read a batch at a time, until the first one stored encoded or the last.
// Root opens nothing: the file found (O_PATH) and checked is held while its
// inode's records are searched.
Stored AskHowStored(int directoryFd, const char* name, const struct statx& status);
