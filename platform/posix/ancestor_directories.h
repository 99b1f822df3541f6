// The directories the walk on the caller's thread is inside, from its start
// down: for each, the subdirectories its listing named (to check each one
// against what was listed when it is opened) and, for the deepest few, the
// descriptor kept once its listing has ended, so that the next directory the
// walk asks for, a subdirectory of one of them, is opened relative to it:
// one short open whatever the depth. A directory whose parent's descriptor
// was not kept is opened below the walk's start (walk_start.h).
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/posix/open_below.h"

// Which remembered directory a search's descriptor belongs to.
struct AncestorTicket {
  std::uint64_t number = 0;  // 0: none
};

// Opens the directory named by the first length characters of directory (0:
// the root) for listing: below the start, relative to the deepest remembered
// directory that holds it and checked against its listing; otherwise as a
// new start. Remembers it under ticket. -1 on failure, with the platform's
// error in error. A directory on its parent's device is checked by the
// caller, once it has read the listing's first batch, against unchecked
// (IsListedBy): the listing's own "." says which directory it is, without
// another call. unchecked.inode is 0 when nothing is left to check.
int OpenAsDescendant(const char* directory, std::size_t length, AncestorTicket& ticket,
                     ListedDirectory& unchecked, DWORD& error);

// The listing of the directory remembered under ticket named a subdirectory
// the walk may enter.
void NoteSubdirectory(const AncestorTicket& ticket, const char* name,
                      const ListedDirectory& listed);

// The listing opened under ticket has ended or is closed: its descriptor is
// kept for its subdirectories while the directory is remembered, closed
// otherwise.
void LetGoOfDirectory(int fd, AncestorTicket& ticket);
