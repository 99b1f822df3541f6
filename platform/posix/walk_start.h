// The directory a walk started from. Its path is opened as given (a link in
// it is the user's choice) and its descriptor held until another walk
// starts, so that every directory below it is opened relative to it, never
// by a path that could pass through a link or a mount placed since.
#pragma once

#include <cstddef>

#include "platform/posix/open_below.h"

// Opens the directory named by the first length characters of directory
// (0: the root) for listing, as given, and makes it the start of a new walk.
// -1 with errno set on failure; the start is then none.
int OpenStart(const char* directory, std::size_t length);

// Whether directory lies below the start: the start's path, a separator,
// and more.
bool IsBelowStart(const char* directory, std::size_t length);

// directory (length characters), below the start, is the root of a mount the
// walk searches, opened as fd: what lies below it is opened relative to a
// copy of fd from now on, never across the mount point by a path from the
// start, which RESOLVE_NO_XDEV refuses.
void AddMountBase(const char* directory, std::size_t length, int fd);

// The walk asks for directory: the mount bases it does not lie in (or at)
// are searched no more, and are let go of.
void KeepMountBasesLeadingTo(const char* directory, std::size_t length);

// The start of the walk, held for as long as the object lives, so that its
// descriptor stays open; none when no walk has started.
class HeldStart {
 public:
  HeldStart();
  ~HeldStart();
  HeldStart(const HeldStart&) = delete;
  HeldStart& operator=(const HeldStart&) = delete;
  explicit operator bool() const { return start != nullptr; }
  int Fd() const;  // for opening below the start, never for reading

 private:
  struct Start* start;
};

// Opens directory, which lies below the start, with flags, relative to the
// start's descriptor as OpenBelow does. -1 with errno set on failure, ENOENT
// when it no longer lies below the start.
int OpenBelowStart(const char* directory, std::size_t length, const ListedDirectory& listed,
                   int flags);
