// Where a symbolic link met in a listing leads, looked at only inside the
// tree the walk was given: below its start and on the start's mount. A link
// to anywhere else counts as a file, as a dangling one does, and its target
// is never looked at, so that no other file system (one a user mounted and
// then stopped from answering, say) can hold the walk up, whatever the
// number of threads.
#pragma once

// Whether the link name in the open directory directoryFd leads to a
// directory: 1 it does, 0 it leads to something else in the tree, -1 with
// errno set when it leads nowhere in the tree (EXDEV: outside the start or
// onto another mount; ENOENT, ELOOP...: dangling, a loop).
//
// The link is resolved relative to the start, from the directory's place
// below it (its path as the kernel knows it, /proc/self/fd), refusing any
// way above the start or across a mount (openat2's RESOLVE_BENEATH and
// RESOLVE_NO_XDEV, or the same a name at a time without openat2). A link
// whose text is an absolute path leads into the tree when that path lies
// below the start's own. Where the directory's place cannot be known (no
// /proc, a path past PATH_MAX), or inside a mount below the start that the
// run searches (mounts.h), the link is resolved the same way below its own
// directory instead.
int LinkLeadsToDirectory(int directoryFd, const char* name);
