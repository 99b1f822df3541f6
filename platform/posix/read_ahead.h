// Directory listings read ahead of the walk by worker threads.
//
// The walk asks for directories one at a time, in its own order: a
// directory's entries first, then each of its subdirectories the same way,
// depth first, in the order the listing named them. Every listing handed out
// names the subdirectories the walk will ask for next, so once the walk has
// asked for one of them, the workers open (relative to the parent's open
// descriptor), list and describe the ones that follow, in that order, and
// the caller's thread takes each listing ready when it asks for it. A
// request that is not the one foretold is served from the disk as it comes,
// and the read-ahead starts over from it.
//
// Bounded: at most kWindowDirectories directories and kWindowBytes bytes of
// listings are held ahead of the walk (read_ahead.cpp), and at most
// ReadAheadDescriptors() descriptors are open for it.
#pragma once

#include <cstddef>

#include "platform/win32.h"

namespace read_ahead {

struct Node;
struct Page;

// Where one search stands in a listing. Owned by the search; used by one thread at a time.
struct Cursor {
  Node* node = nullptr;  // null once the listing has ended
  Page* page = nullptr;  // the batch being handed out
  std::size_t index = 0;
  unsigned heldDots = 0;  // "." and ".." met, handed out once the rest has been
  // Room for one batch (kBatchSize), aligned for its entries, in which the
  // search's thread reads when it reads for itself. Not owned.
  char* scratch = nullptr;
};

// Whether listings come through the read-ahead: the walk may use more than
// one thread. Decided on the first call.
bool Enabled();

// Starts the listing of the directory named by the first length characters
// of directory, for the names that match pattern. Answers false, with the
// platform's error, when the directory cannot be opened or memory is short.
bool Begin(const char* directory, std::size_t length, const char* pattern,
           std::size_t patternLength, Cursor& cursor, DWORD& error);

// Fills record with the next entry. At the end answers false with
// ERROR_NO_MORE_FILES, or once with the error that cut the listing short.
bool Next(Cursor& cursor, WIN32_FIND_DATAA& record, DWORD& error);

// Lets go of the listing, read to its end or not.
void End(Cursor& cursor);

// Forgets every directory foretold and returns once no thread reads ahead
// any more: after a walk abandoned halfway (ended by an error), nothing of
// it goes on. For a caller that counts or fails system calls one walk at a
// time.
void Settle();

}  // namespace read_ahead
