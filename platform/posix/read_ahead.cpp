#include "platform/posix/read_ahead.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>

#include "platform/posix/described_batch.h"
#include "platform/posix/directory_entries.h"
#include "platform/posix/error_from_errno.h"
#include "platform/posix/open_below.h"
#include "platform/posix/read_ahead_work.h"
#include "platform/posix/system_calls.h"
#include "platform/posix/walk_start.h"
#include "platform/posix/walk_threads.h"

namespace read_ahead {

namespace {

// Made by the first call and never destroyed: a worker still in a system
// call when the process exits (StopWorkers leaves it there) takes the lock
// once the call returns.
alignas(SharedState) unsigned char sharedStorage[sizeof(SharedState)];

}  // namespace

SharedState& Shared() { return *std::launder(reinterpret_cast<SharedState*>(sharedStorage)); }

namespace {

void StopWorkersAtExit() { StopWorkers(Shared()); }

bool Configure() {
  const unsigned threads = WalkThreads();
  if (threads <= 1) return false;
  SharedState* shared = new (sharedStorage) SharedState();
  shared->threads = threads;
  shared->diskThreads = DiskWalkThreads();
  shared->probe.Start();
  std::atexit(StopWorkersAtExit);
  return true;
}

// A walk that reads from the disk waits on it: more threads then keep more
// reads in flight.
void GrowIfReadingFromDisk(SharedState& shared, std::unique_lock<Mutex>& guard) {
  if (shared.threads >= shared.diskThreads || !shared.probe.LookDue()) return;
  guard.unlock();
  const bool reading = shared.probe.ReadsFromDisk();
  guard.lock();
  if (reading) shared.threads = shared.diskThreads;
}

// Whether the directory at path (below the walk's start) is still the one
// listed, with the same change time. Opened the safe way, as a directory to
// be listed would be, only to look at it.
bool StillTheSame(const char* path, std::size_t length, const ListedDirectory& listed,
                  std::int64_t changed) {
  // Resolving a path costs a step a name: past what one call takes, a deep
  // tree would pay for each level what all the levels above cost. Such a
  // listing is served as it was read, from the directory the listing named.
  if (length >= PATH_MAX) return true;
  const int fd = OpenBelowStart(path, length, listed, O_PATH | O_DIRECTORY);
  if (fd < 0) return false;
  struct statx status;
  const bool same =
      system_calls::Statx(fd, "", AT_EMPTY_PATH | kStatxLookFlags, STATX_CTIME, &status) == 0 &&
      ChangeTime(status) == changed;
  ::close(fd);
  return same;
}

// Whether the directory at the first length characters of path is still the
// one listed, where its listing put it below the start; taken to be, past
// PATH_MAX characters, as StillTheSame does.
bool StillAt(const char* path, std::size_t length, const ListedDirectory& listed) {
  if (length >= PATH_MAX) return true;
  const int fd = OpenBelowStart(path, length, listed, O_PATH | O_DIRECTORY);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

// Whether node's parent is still where its listing put it, below the start:
// made sure again by its path (the leading part of directory) once half the
// freshness window has gone since the walk last knew, so that what workers
// open ahead from its descriptor is known in place when the walk takes it,
// and a parent moved out of the tree is searched no further from it.
bool ParentInPlace(ForetoldTree& tree, Node* node, const char* directory, std::size_t length,
                   std::unique_lock<Mutex>& guard, Deferred& deferred) {
  // A parent let go of (every subdirectory of it opened or given up) is
  // opened from no more: node's own placement then answers for it.
  if (!node->holdsParent) return true;
  Node* parent = node->parent;
  const std::int64_t now = Now();
  if (now - parent->placedAt <= kFreshNanoseconds / 2) return true;
  const ListedDirectory listed = parent->Listed();
  // node's path is its parent's, the separator and its name (IsPathOf).
  const std::size_t parentLength = length - node->nameLength - 1;
  ++parent->references;  // a worker may let node let go of it meanwhile
  guard.unlock();
  const bool inPlace = StillAt(directory, parentLength, listed);
  guard.lock();
  if (inPlace && parent->placedAt < now) parent->placedAt = now;
  tree.Release(parent, deferred);
  return inPlace;
}

// Opens on the walk's thread a directory no worker opened: relative to its
// parent's descriptor while it still counts in the parent (which keeps that
// descriptor open for it) and the parent is in place, else below the walk's
// start; checked against the listing either way. Short of descriptors, it first lets go of
// everything read ahead, as the walk on one thread holds nothing ahead, and waits until no task
// holds a descriptor.
void OpenInLine(SharedState& shared, Node* node, const char* directory, std::size_t length,
                std::unique_lock<Mutex>& guard, Deferred& deferred) {
  ForetoldTree& tree = shared.tree;
  node->state = State::kBusy;
  const bool fromParent = node->countedByParent && node->parent->fd >= 0 &&
                          Now() - node->parent->placedAt <= kFreshNanoseconds;
  const int parentFd = fromParent ? node->parent->fd : -1;
  const ListedDirectory listed = node->Listed();
  guard.unlock();
  deferred.Run();
  system_calls::Reach(system_calls::Point::kOpeningInLine, node->Name());
  int fd = parentFd >= 0 ? OpenListedDirectory(parentFd, node->Name(), listed, kListFlags)
                         : OpenBelowStart(directory, length, listed, kListFlags);
  int openError = errno;
  const std::int64_t openedAt = Now();
  guard.lock();
  node->placedAt = parentFd >= 0 ? std::min(node->parent->placedAt, openedAt) : openedAt;
  if (fd < 0 && OutOfDescriptors(openError) &&
      (tree.heldDescriptors > 0 || shared.pool.AnyTaskRunning())) {
    // Opened from the start from now on: the parent's descriptor may go too.
    tree.StopCountingInParent(node, deferred);
    tree.LetGoOfParentIfDone(node, deferred);
    tree.DropPredictions(deferred);
    shared.pool.Pause(guard);
    guard.unlock();
    deferred.Run();
    fd = OpenBelowStart(directory, length, listed, kListFlags);
    openError = errno;
    guard.lock();
    node->placedAt = Now();
    if (shared.pool.Resume()) WakeWorkers(shared);
  }
  tree.StopCountingInParent(node, deferred);
  tree.LetGoOfParentIfDone(node, deferred);
  if (fd < 0) {
    EndNode(shared, node, ErrorFromOpeningBelow(openError, listed), deferred);
    return;
  }
  node->fd = fd;
  ++tree.heldDescriptors;
  node->state = State::kOpen;
  // Foretelling goes on from here, unless the walk let go of it above.
  if (!node->detached) tree.PlaceMarker(node, tree.Head());
}

// Opens a directory the walk asked for that was not foretold (or was read
// too long ago and changed since): below the start as listed, when it lies
// there, or as the start of a new walk. Called without the lock. -1 on
// failure, with the platform's error in error.
int OpenAsAsked(SharedState& shared, const char* directory, std::size_t length,
                const ListedDirectory& listed, DWORD& error) {
  const bool below = IsBelowStart(directory, length);
  const std::size_t budget = below ? 0 : ReadAheadDescriptors();
  const auto open = [&] {
    return below ? OpenBelowStart(directory, length, listed, kListFlags)
                 : OpenStart(directory, length);
  };
  int fd = open();
  int openError = errno;
  std::unique_lock<Mutex> guard(shared.lock);
  if (fd < 0 && OutOfDescriptors(openError) &&
      (shared.tree.heldDescriptors > 0 || shared.pool.AnyTaskRunning())) {
    // Descriptors a task still holds are given back once it ends.
    shared.pool.Pause(guard);
    guard.unlock();
    fd = open();
    openError = errno;
    guard.lock();
    if (shared.pool.Resume()) WakeWorkers(shared);
  }
  if (!below) shared.tree.descriptorBudget = budget;
  if (fd < 0) {
    error = below ? ErrorFromOpeningBelow(openError, listed) : ErrorFromOpening(openError);
  }
  return fd;
}

// Serves a directory foretold: waits for a worker opening it, checks a
// listing read long ago, and opens it here if nobody did.
void ServeForetold(SharedState& shared, Node* node, const char* directory, std::size_t length,
                   std::unique_lock<Mutex>& guard, Deferred& deferred) {
  ForetoldTree& tree = shared.tree;
  // If the worker gives it back, it is opened here, where its path is known.
  while (node->state == State::kBusy && node->fd < 0) {
    system_calls::Reach(system_calls::Point::kWaitingForWorker, node->Name());
    WaitForWalk(shared, node, guard);
  }
  // A parent moved out of the tree: node is looked for where it was, by its
  // path, whatever was read of it from the parent's descriptor.
  const bool parentInPlace = ParentInPlace(tree, node, directory, length, guard, deferred);
  const std::int64_t placedAt = parentInPlace ? node->placedAt : 0;
  if (node->openedAt != 0 && Now() - placedAt > kFreshNanoseconds) {
    const std::int64_t changed = node->changed;
    const ListedDirectory listed = node->Listed();
    guard.unlock();
    system_calls::Reach(system_calls::Point::kCheckingFreshness, node->Name());
    const bool same = parentInPlace && StillTheSame(directory, length, listed, changed);
    const std::int64_t checkedAt = Now();
    guard.lock();
    if (same) {
      node->placedAt = checkedAt;
    } else {
      // Read again as it is now, if it is still the directory listed: its
      // siblings stay foretold, so that each is still checked against the
      // listing that named it. Its descriptor goes only once no worker is
      // opening a subdirectory relative to it.
      while (node->state == State::kBusy) WaitForWalk(shared, node, guard);
      while (node->openingChildren > 0) {
        system_calls::Reach(system_calls::Point::kWaitingForWorker, node->Name());
        WaitForWalk(shared, node, guard);
      }
      tree.ForgetWhatWasRead(node, deferred);
    }
  }
  if (!parentInPlace && node->countedByParent) {
    tree.StopCountingInParent(node, deferred);  // opened by its path from now on
  }
  if (!node->IsStarted()) {
    ++node->references;
    OpenInLine(shared, node, directory, length, guard, deferred);
    tree.Release(node, deferred);  // cannot be the last: the search holds it
  }
  tree.LetGoOfParentIfDone(node, deferred);
}

// Hands out the next entry of the cursor's directory, which the walk's own
// thread reads in line (walkReadsInLine): a batch at a time into the
// search's own room, each entry described as it is handed out, as the walk
// on one thread reads, so that nothing is allocated. Answers false at the
// end of the listing or at the error that cut it short, once the directory
// is ended with it; the caller then ends the search as any other.
bool NextInLine(SharedState& shared, Cursor& cursor, WIN32_FIND_DATAA& record) {
  Node* node = cursor.node;
  const NameFilter& filter = node->pattern->filter;
  // The directory is kBusy, the walk's alone: nobody else reads or changes
  // what is read here without the lock.
  for (;;) {
    const struct dirent64* entry = cursor.inLine.Next();
    DWORD ending = 0;
    if (entry == nullptr) {
      ListedDirectory unchecked = node->unchecked ? node->Listed() : ListedDirectory();
      const ssize_t length = ReadBatch(node->fd, cursor.scratch, unchecked);
      node->unchecked = unchecked.inode != 0;
      if (length > 0) {
        cursor.inLine = BatchEntries(cursor.scratch, static_cast<std::size_t>(length));
        continue;
      }
      ending = length == 0 ? ERROR_NO_MORE_FILES : ErrorFromReading(errno);
    } else if (filter.Takes(*entry) && !cursor.heldDots.Hold(entry->d_name)) {
      std::memcpy(record.cFileName, entry->d_name, kMaxNameLength + 1);
      record.cAlternateFileName[0] = '\0';
      struct statx status;
      const Look look = LookAt(node->fd, entry->d_name, entry->d_type, record, status, ending);
      if (look == Look::kLeftOut) continue;
      if (look == Look::kDescribed) {
        if (node->asksStorage > 0) AskAbout(node->fd, entry->d_name, status, record);
        return true;
      }
    } else {
      continue;
    }
    Deferred deferred;
    const std::lock_guard<Mutex> guard(shared.lock);
    cursor.inLine = BatchEntries();
    EndNode(shared, node, ending, deferred);
    return false;
  }
}

// The batch the cursor has handed out is freed once the lock is left.
void LetGoOfBatch(SharedState& shared, Cursor& cursor, Deferred& deferred) {
  shared.tree.LetGoOfBatch(cursor.batch, deferred);
  cursor.batch = nullptr;
  WakeWorkersIfRoomy(shared);
}

}  // namespace

bool Enabled() {
  static const bool enabled = Configure();
  return enabled;
}

bool Begin(const char* directory, std::size_t length, const char* pattern,
           std::size_t patternLength, Cursor& cursor, DWORD& error) {
  SharedState& shared = Shared();
  ForetoldTree& tree = shared.tree;
  Deferred deferred;
  std::unique_lock<Mutex> guard(shared.lock);
  GrowIfReadingFromDisk(shared, guard);
  StartWorkers(shared, guard);
  const bool engaging = !tree.engaged;
  if (Node* node = tree.TakeForetold(directory, length, pattern, patternLength)) {
    ServeForetold(shared, node, directory, length, guard, deferred);
    // The list's reference becomes the search's.
    cursor.node = node;
    if (engaging) {
      WakeWorkers(shared);
    } else {
      WakeWorkersIfRoomy(shared);
    }
    if (node->mountRoot && node->fd >= 0) {
      const ListedDirectory listed = node->Listed();
      guard.unlock();
      // What lies below a mount searched is opened relative to its root.
      const int root = OpenBelowStart(directory, length, listed, O_PATH | O_DIRECTORY);
      if (root >= 0) {
        AddMountBase(directory, length, root);
        ::close(root);
      }
    }
    return true;
  }

  // Not foretold: read as it comes, and foretell from here on.
  const ListedDirectory listed = tree.FindListed(directory, length);
  tree.DropPredictions(deferred);
  guard.unlock();
  deferred.Run();
  const int fd = OpenAsAsked(shared, directory, length, listed, error);
  if (fd < 0) return false;
  if (listed.mountRoot) AddMountBase(directory, length, fd);
  auto* sharedPattern = new (std::nothrow) SharedPattern();
  Node* node = sharedPattern != nullptr ? ForetoldTree::NewNode("", 0) : nullptr;
  if (node == nullptr) {
    delete sharedPattern;
    ::close(fd);
    error = ERROR_NOT_ENOUGH_MEMORY;
    return false;
  }
  sharedPattern->references = 1;
  sharedPattern->filter.Set(pattern, patternLength);
  node->pattern = sharedPattern;
  node->fd = fd;
  node->state = State::kOpen;
  node->references = 1;  // the search's
  node->placedAt = IsBelowStart(directory, length) ? Now() : INT64_MAX;
  node->device = listed.device;
  node->inode = listed.inode;
  node->mountRoot = listed.mountRoot;
  guard.lock();
  tree.StartSearchAt(node, directory, length);
  cursor.node = node;
  WakeWorkers(shared);
  return true;
}

bool Next(Cursor& cursor, WIN32_FIND_DATAA& record, DWORD& error) {
  SharedState& shared = Shared();
  for (;;) {
    if (cursor.batch != nullptr) {
      const DescribedEntry* entries = cursor.batch->Entries();
      while (cursor.index < cursor.batch->count) {
        const DescribedEntry& entry = entries[cursor.index++];
        if (entry.look != Look::kDescribed) continue;
        const char* name = cursor.batch->NameOf(entry);
        if (cursor.heldDots.Hold(name)) continue;
        FillRecord(entry, name, record);
        return true;
      }
      // Let go of under the lock that takes the next batch: one lock, not two.
    }
    if (cursor.node == nullptr) {
      if (cursor.batch != nullptr) {
        Deferred deferred;
        const std::lock_guard<Mutex> guard(shared.lock);
        LetGoOfBatch(shared, cursor, deferred);
      }
      if (cursor.heldDots.Any()) {
        cursor.heldDots.HandOut(record);
        return true;
      }
      error = ERROR_NO_MORE_FILES;
      return false;
    }
    Node* node = cursor.node;
    Deferred deferred;
    std::unique_lock<Mutex> guard(shared.lock);
    if (cursor.batch != nullptr) LetGoOfBatch(shared, cursor, deferred);
    // Begin handed out the directory opened or ended; from then on whoever
    // reads it (kBusy) moves it on and wakes this thread, whatever it leaves
    // it in, and an open one nobody reads (kOpen) is read here.
    for (;;) {
      if ((cursor.batch = shared.tree.TakeBatch(node)) != nullptr) {
        cursor.index = 0;
        WakeWorkersIfRoomy(shared);
        break;
      }
      if (node->walkReadsInLine && node->state != State::kEnded) {
        // Every batch read before is handed out: the rest comes in line.
        guard.unlock();
        deferred.Run();
        if (NextInLine(shared, cursor, record)) return true;
        guard.lock();
        continue;
      }
      if (node->state == State::kEnded) {
        error = node->endError;
        shared.tree.FinishSearch(node, deferred);
        cursor.node = nullptr;
        if (error != ERROR_NO_MORE_FILES) {
          cursor.heldDots.Drop();  // a listing cut short ends with its error
          return false;
        }
        if (!cursor.heldDots.Any()) return false;
        cursor.heldDots.HandOut(record);
        return true;
      }
      const Work work = PickOwnWork(shared, node);
      if (work.Any()) {
        RunWork(shared, work, true, guard, cursor.scratch);
        continue;
      }
      WaitForWalk(shared, node, guard);
    }
  }
}

void End(Cursor& cursor) {
  // A search that never began holds nothing, and the shared state may never
  // have been made (no read-ahead).
  if (cursor.batch == nullptr && cursor.node == nullptr) return;
  SharedState& shared = Shared();
  Deferred deferred;
  const std::lock_guard<Mutex> guard(shared.lock);
  if (cursor.batch != nullptr) LetGoOfBatch(shared, cursor, deferred);
  if (cursor.node != nullptr) {
    shared.tree.FinishSearch(cursor.node, deferred);
    cursor.node = nullptr;
  }
}

}  // namespace read_ahead
