// How a directory below the walk's start is opened: relative to a directory
// already open, never through a symbolic link, never onto another mount, and
// only if it is still the directory its parent's listing named. Whoever
// swaps a listed directory for a link, a mount or another directory between
// its listing and its opening gets a refusal, never the other directory's
// entries under the listed name. A refusal here is final: no caller opens the
// same directory another way.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/win32.h"

// What a listing said of a directory: the one opened must be the same.
struct ListedDirectory {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;  // 0: not known, so not checked
  // The error the listing met looking at it (ERROR_ACCESS_DENIED, say); it
  // is then refused with that error and never opened. 0: none.
  DWORD refusal = 0;
  // The root of another mount, searched as the run asks (mounts.h): opened
  // across the mount point, that one step only, and only if what is opened
  // is that mount's root, as listed.
  bool mountRoot = false;
};

// Whether this kernel lets the process call openat2: asked once, by a call
// that cannot fail where it can. Kernels before 5.6 lack it (ENOSYS), and
// container profiles that predate it refuse it (EPERM); then each directory
// is opened a name at a time and checked as openat2 would have refused it.
bool HasOpenat2();

// How long the walk trusts that a directory it made sure of is still where
// its listing put it, below the start: a walk held up (by a slow reader of
// its output, say) makes sure again, rather than go on in a directory moved
// out of the tree meanwhile.
inline constexpr std::int64_t kFreshNanoseconds = 10'000'000;

// The monotonic clock, in nanoseconds.
std::int64_t Now();

// Opens name, an entry of the open directory parentFd, with flags (which
// must include O_DIRECTORY). Answers -1 with errno set when it cannot; see
// ChangedSinceListing for the refusals that mean it changed.
int OpenListedDirectory(int parentFd, const char* name, const ListedDirectory& listed, int flags);

// Opens the directory named by the first length characters of path, relative
// to startFd and never above it, one name at a time as OpenListedDirectory
// does. Path is relative (no leading separator); it may be longer than the
// kernel takes in one call.
int OpenBelow(int startFd, const char* path, std::size_t length, const ListedDirectory& listed,
              int flags);

// Opens the directory path names (length characters; 0: the root) for
// listing as given, relative to the current directory: links on the way are
// followed, as the user who named the walk's start chose. Answers -1 with
// errno set on failure.
int OpenAsGiven(const char* path, std::size_t length);

// Whether the open directory fd is the one listed; false with errno set
// (ESTALE: another one) when it is not, or cannot be looked at.
bool IsListed(int fd, const ListedDirectory& listed);

// Whether the open directory fd, whose listing's first batch is batch
// (length bytes), is the one listed, on its parent's device: the batch's "."
// names it, and where it names another or none, one statx asks (a file
// system whose "." numbers differ from statx's pays that). False with errno
// set when it is not.
//
// The inode alone is enough only for a directory opened by its one name
// relative to its parent, which openat2 keeps on the parent's mount: in its
// place there can then only be a directory renamed in from the parent's own
// file system (the same device), or the root of another subvolume, whose
// inode number is that file system's fixed root number, which no other
// directory on the parent's device carries. A directory opened by a path of
// several names (from the walk's start) may have been reached through a
// subvolume put on the way, with an inode of the same number on another
// device: it is checked with IsListed, device and inode.
bool FirstBatchIsOf(const ListedDirectory& listed, int fd, const char* batch, std::size_t length);

// Whether the errno of a failed open below the start says that the entry is
// no longer the directory listed: a link, a mount point, something else, or
// another directory.
bool ChangedSinceListing(int error);

// The platform's error for a directory below the start that could not be
// opened. Something else in the place of a directory a listing named is a
// change; where no listing named it, it is only not a directory.
DWORD ErrorFromOpeningBelow(int error, const ListedDirectory& listed);
