// The directories the walk on the caller's thread is inside, with their
// descriptors kept open once their listings have ended, so that the next
// directory it asks for, a subdirectory of one of them, is opened relative
// to it: one short openat whatever the depth, instead of the whole path
// again, a piece of PATH_MAX at a time.
#pragma once

#include <cstddef>
#include <cstdint>

// Which remembered directory a search's descriptor belongs to.
struct AncestorTicket {
  std::uint64_t number = 0;  // 0: none
};

// Opens the directory named by the first length characters of directory (0:
// the root) for listing: relative to the deepest remembered directory that
// holds it, otherwise from its path. Remembers it under ticket. -1 with errno
// set on failure.
int OpenAsDescendant(const char* directory, std::size_t length, AncestorTicket& ticket);

// The listing opened under ticket has ended or is closed: its descriptor is
// kept for its subdirectories while the directory is remembered, closed
// otherwise.
void LetGoOfDirectory(int fd, AncestorTicket& ticket);
