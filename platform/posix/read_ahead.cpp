#include "platform/posix/read_ahead.h"

#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>

#include "platform/posix/directory_entries.h"
#include "platform/posix/error_from_errno.h"
#include "platform/posix/open_below.h"
#include "platform/posix/system_calls.h"
#include "platform/posix/walk_start.h"
#include "platform/posix/walk_threads.h"
#include "platform/posix/wildcard.h"

namespace read_ahead {

namespace {

// The window: directories opened ahead of the walk and not yet asked for,
// and bytes of listings read and not yet handed out. Together with the
// descriptor share (ReadAheadDescriptors) they are all the read-ahead holds.
constexpr std::size_t kWindowDirectories = 128;
constexpr std::size_t kWindowBytes = std::size_t{8} << 20;
// Batches a directory may have read and not handed out: more for one the
// walk is in than for one it has yet to reach.
constexpr std::size_t kPagesAheadInWalk = 4;
constexpr std::size_t kPagesAheadOfWalk = 2;
// A listing read ahead longer than this before the walk reaches its directory
// is checked against the directory as it is then, so that a walk held up (by
// a slow reader of its output, say) does not report a directory as it was
// long before: one statx, and a directory changed since is read again.
constexpr std::int64_t kFreshNanoseconds = 10'000'000;
// The statx calls of a large batch are shared out in chunks of this many entries.
constexpr std::uint32_t kChunkEntries = 128;
// Whether the walk reads from the disk is asked once every so many
// directories; more than this many blocks (of 512 bytes) read since it
// started say that it does, rather than a page or two of the program's own.
constexpr unsigned kDirectoriesPerDiskCheck = 32;
constexpr long kDiskBlocks = 256;

// Where a directory stands, and who moves it on from there.
enum class State : std::uint8_t {
  kUnstarted,  // named by its parent's listing, not opened: a worker picks it, or the walk opens it
  kInLine,     // a worker could not open it (no descriptor or memory to spare): the walk opens
               // it when it asks for it, still counted in its parent so that the parent's
               // descriptor stays open for it
  kOpen,       // open with more to read, and nobody reading it: picked by a worker or the walk
  kBusy,       // a thread opens it or reads its next batch: that thread moves it on, and wakes
               // the walk whatever it leaves it in
  kEnded,      // read to its end, or to the error in endError: final
};

// One entry of a batch, described.
struct Entry {
  std::uint64_t size;
  FILETIME creation;
  FILETIME access;
  FILETIME write;
  DWORD attributes;  // 0: it could not be described, and is left out; or kRefused
  DWORD reparseTag;  // with kRefused, the error that ends the listing before it
  std::uint64_t device;
  std::uint64_t inode;
  std::int64_t changed;  // the status change time, in nanoseconds
  std::uint32_t nameOffset;
  std::uint16_t nameLength;
  std::uint8_t type;  // from the listing
};

// The attributes of an entry whose refusal ends the listing before it: statx
// had no memory, or the directory cannot be searched.
constexpr DWORD kRefused = 0xFFFFFFFF;

// The pattern the walk asked with: the same for every directory below the
// one it started from. Counted by the nodes that use it.
struct Session {
  std::size_t references;
  bool everyName;
  std::size_t patternLength;
  char pattern[kMaxNameLength + 1];
};

}  // namespace

// One getdents64 batch, described: one allocation holding this header, then
// count entries, then their names, each with its terminator.
struct Page {
  Page* next;
  std::size_t bytes;
  std::uint32_t room;   // entries the allocation holds, before the names
  std::uint32_t count;  // entries handed out: fewer when the listing ended inside the batch
};

// A directory the walk has asked for or will ask for. Its name follows it in
// the same allocation. Every field but name, nameLength, parent and session
// (fixed before it is shared) is guarded by the lock.
struct Node {
  Node* prev;  // in the list: the walk's order
  Node* next;
  Node* walkPrev;  // among the directories a search holds
  Node* walkNext;
  Node* parent;  // opened relative to its descriptor; for a marker, the directory it ends
  Node* marker;  // while its listing is read: where the subdirectories it names go in the list
  Session* session;
  State state;
  bool isMarker;
  bool inList;
  bool searched;         // a search holds it
  bool predicts;         // its subdirectories go into the list
  bool detached;         // searched, but no longer part of what is foretold
  bool holdsParent;      // holds a reference on parent: until the walk asks for it
  bool countedByParent;  // counts in parent->unopenedChildren: until opened or dropped
  bool walkReadsOnly;    // a worker lacked the memory for its next batch: the walk reads on
  bool unchecked;        // opened on its parent's device: its first batch's "." is checked
  int fd;
  DWORD endError;
  // The list, a search, a thread working on it, each child that holds it.
  std::size_t references;
  std::size_t unopenedChildren;
  Page* firstPage;  // read, not yet handed out
  Page* lastPage;
  std::size_t pageCount;
  std::size_t pathLength;  // once the walk has asked for it
  // As its parent's listing described it, and when a worker opened it: a
  // directory read ahead is the same one when the walk reaches it if these
  // have not changed.
  std::uint64_t device;
  std::uint64_t inode;
  std::int64_t changed;
  std::int64_t openedAt;  // 0: opened on the walk's thread, when asked for
  // Where the listing stands after the last batch read, to read a batch again
  // that was read and could not be kept.
  std::int64_t resumeOffset;
  std::size_t nameLength;
  const char* Name() const { return reinterpret_cast<const char*>(this + 1); }
};

namespace {

Entry* Entries(Page* page) { return reinterpret_cast<Entry*>(page + 1); }
const char* Names(Page* page) { return reinterpret_cast<const char*>(Entries(page) + page->room); }
static_assert(sizeof(Page) % alignof(Entry) == 0, "entries must follow the header aligned");

// A batch whose statx calls are shared out. Lives on its reader's stack until
// every chunk is done.
struct Job {
  Job* prev;  // among the jobs with chunks nobody has taken
  Job* next;
  Node* node;  // whose batch it is
  Page* page;
  int fd;
  std::uint32_t chunkCount;
  std::uint32_t nextChunk;
  std::uint32_t doneChunks;
};

// The lock the threads share: taken many times a directory, each time for a
// few instructions, so a thread that finds it held spins a little before it
// sleeps in the kernel.
class SharedLock {
 public:
  SharedLock() = default;
  SharedLock(const SharedLock&) = delete;
  SharedLock& operator=(const SharedLock&) = delete;
  void lock() { ::pthread_mutex_lock(&mutex); }
  void unlock() { ::pthread_mutex_unlock(&mutex); }
  pthread_mutex_t* Native() { return &mutex; }

 private:
  pthread_mutex_t mutex = PTHREAD_ADAPTIVE_MUTEX_INITIALIZER_NP;
};

// Where threads wait under the shared lock. Allocates nothing and throws
// nothing, unlike a condition for any lock: it is made in the platform's
// find calls, which answer out of memory with an error code.
class SharedCondition {
 public:
  SharedCondition() = default;
  SharedCondition(const SharedCondition&) = delete;
  SharedCondition& operator=(const SharedCondition&) = delete;
  // May return without a notification: callers wait in a loop.
  void wait(std::unique_lock<SharedLock>& guard) {
    ::pthread_cond_wait(&condition, guard.mutex()->Native());
  }
  void notify_all() { ::pthread_cond_broadcast(&condition); }

 private:
  pthread_cond_t condition = PTHREAD_COND_INITIALIZER;
};

// Everything the threads share, guarded by lock unless said otherwise.
struct Shared {
  SharedLock lock;
  SharedCondition work;      // idle workers wait here
  SharedCondition progress;  // a thread waiting for a chunk, or for every task to end
  // The walk's thread waiting for what happens to walkAwaits (opened, a
  // batch, an end, a batch shared out): woken for that directory alone.
  SharedCondition walk;
  const Node* walkAwaits = nullptr;
  unsigned walkWaiters = 0;
  unsigned threads = 1;  // raised to diskThreads once the walk waits on the disk
  unsigned diskThreads = 1;
  long blocksAtStart = 0;  // read from the disk before the walk began; fixed once configured
  unsigned directoriesSinceDiskCheck = 0;
  unsigned workersStarted = 0;
  unsigned idleWorkers = 0;
  unsigned progressWaiters = 0;
  unsigned running = 0;  // threads inside a task
  // Threads waiting for every task to end (a walk settling, a fork): while
  // there are any, no task is picked. Each waiter counts itself in and out.
  unsigned pauses = 0;
  bool stopping = false;               // the process is ending: workers leave
  pthread_t workers[kMaxWalkThreads];  // the first workersStarted are running
  Node* head = nullptr;                // the list: directories the walk will ask for, in its order
  Node* tail = nullptr;
  Node* walking = nullptr;  // directories a search holds
  Job* jobsHead = nullptr;
  Job* jobsTail = nullptr;
  bool engaged = false;  // the walk asked for a subdirectory: it recurses
  std::size_t startedAhead = 0;
  std::size_t heldBytes = 0;
  std::size_t heldDescriptors = 0;
  std::size_t descriptorBudget = 0;
  // The path of the directory the walk asked for last; those it asks for
  // next are named from its leading part.
  char* currentPath = nullptr;
  std::size_t currentCapacity = 0;
  std::size_t currentLength = 0;
  bool pathKnown = false;
};

// Never destroyed: a worker still in a system call when the process exits
// (StopWorkers leaves it there) may take the lock once it returns.
alignas(Shared) unsigned char sharedStorage[sizeof(Shared)];
Shared& S() { return *std::launder(reinterpret_cast<Shared*>(sharedStorage)); }

// What a thread lets go of once it has left the lock: descriptors, nodes and
// pages. Declared before the lock's guard, it runs after the guard unlocks.
class Deferred {
 public:
  Deferred() = default;
  Deferred(const Deferred&) = delete;
  Deferred& operator=(const Deferred&) = delete;
  ~Deferred() {
    Run();
    ::operator delete(more);
  }

  void Close(int fd) {
    if (fdCount == fdRoom && !Grow()) {
      ::close(fd);  // only when no memory is left for the list
      return;
    }
    (fdCount < kMaxFds ? fds[fdCount] : more[fdCount - kMaxFds]) = fd;
    ++fdCount;
  }
  void Free(Node* node) {
    node->next = nodes;
    nodes = node;
  }
  void FreePages(Page* first) {
    while (first != nullptr) {
      Page* next = first->next;
      first->next = pages;
      pages = first;
      first = next;
    }
  }
  // Only outside the lock.
  void Run() {
    for (std::size_t i = 0; i < fdCount; ++i) ::close(i < kMaxFds ? fds[i] : more[i - kMaxFds]);
    fdCount = 0;
    while (nodes != nullptr) {
      Node* next = nodes->next;
      if (nodes->fd >= 0) ::close(nodes->fd);
      FreePages(nodes->firstPage);
      ::operator delete(nodes);
      nodes = next;
    }
    while (pages != nullptr) {
      Page* next = pages->next;
      ::operator delete(pages);
      pages = next;
    }
  }

 private:
  // Room for more descriptors than the fixed list holds, made once: a walk
  // dropping its predictions lets go of a descriptor for each directory of
  // the window and each parent they kept open, far fewer than this.
  bool Grow() {
    if (more != nullptr) return false;
    more = static_cast<int*>(::operator new(kMoreFds * sizeof(int), std::nothrow));
    if (more == nullptr) return false;
    fdRoom = kMaxFds + kMoreFds;
    return true;
  }

  static constexpr std::size_t kMaxFds = 16;
  static constexpr std::size_t kMoreFds = 4096;
  int fds[kMaxFds];
  int* more = nullptr;
  std::size_t fdRoom = kMaxFds;
  std::size_t fdCount = 0;
  Node* nodes = nullptr;
  Page* pages = nullptr;
};

// ---- The list -----------------------------------------------------------

void LinkBefore(Node* node, Node* before) {
  Shared& s = S();
  node->next = before;
  node->prev = before != nullptr ? before->prev : s.tail;
  (node->prev != nullptr ? node->prev->next : s.head) = node;
  (before != nullptr ? before->prev : s.tail) = node;
  node->inList = true;
}

void Unlink(Node* node) {
  Shared& s = S();
  (node->prev != nullptr ? node->prev->next : s.head) = node->next;
  (node->next != nullptr ? node->next->prev : s.tail) = node->prev;
  node->prev = node->next = nullptr;
  node->inList = false;
}

void LinkWalking(Node* node) {
  Shared& s = S();
  node->walkPrev = nullptr;
  node->walkNext = s.walking;
  if (s.walking != nullptr) s.walking->walkPrev = node;
  s.walking = node;
}

void UnlinkWalking(Node* node) {
  Shared& s = S();
  (node->walkPrev != nullptr ? node->walkPrev->walkNext : s.walking) = node->walkNext;
  if (node->walkNext != nullptr) node->walkNext->walkPrev = node->walkPrev;
  node->walkPrev = node->walkNext = nullptr;
}

bool IsStarted(const Node& node) {
  return node.state != State::kUnstarted && node.state != State::kInLine;
}

// A node of its own allocation, its name after it; null when memory is short.
Node* NewNode(const char* name, std::size_t nameLength) {
  void* raw = ::operator new(sizeof(Node) + nameLength + 1, std::nothrow);
  if (raw == nullptr) return nullptr;
  Node* node = new (raw) Node();
  std::memcpy(const_cast<char*>(node->Name()), name, nameLength);
  const_cast<char*>(node->Name())[nameLength] = '\0';
  node->nameLength = nameLength;
  node->fd = -1;
  node->state = State::kUnstarted;
  return node;
}

// Links before `before` the marker after which the subdirectories of node
// are foretold. When memory is short nothing is foretold from node: its
// subdirectories are then read in line.
void PlaceMarker(Node* node, Node* before) {
  Node* marker = NewNode("", 0);
  node->predicts = marker != nullptr;
  if (marker == nullptr) return;
  marker->isMarker = true;
  marker->parent = node;
  marker->state = State::kEnded;
  node->marker = marker;
  LinkBefore(marker, before);
}

void ReleaseSession(Session* session) {
  if (session != nullptr && --session->references == 0) ::operator delete(session);
}

void DropMarker(Node* node, Deferred& deferred) {
  if (node->marker == nullptr) return;
  Unlink(node->marker);
  deferred.Free(node->marker);
  node->marker = nullptr;
}

// Closes the descriptor of a directory read to its end once no child needs it.
void CloseIfDone(Node* node, Deferred& deferred) {
  if (node->state == State::kEnded && node->unopenedChildren == 0 && node->fd >= 0) {
    deferred.Close(node->fd);
    node->fd = -1;
    --S().heldDescriptors;
  }
}

void NotifyProgress() {
  if (S().progressWaiters > 0) S().progress.notify_all();
}

// Something happened to node: the walk is woken if it waits for node.
void NotifyWalk(const Node* node) {
  const Shared& s = S();
  if (s.walkWaiters > 0 && s.walkAwaits == node) S().walk.notify_all();
}

// The walk's thread waits until something happens to node.
void WaitForWalk(const Node* node, std::unique_lock<SharedLock>& guard) {
  Shared& s = S();
  s.walkAwaits = node;
  ++s.walkWaiters;
  s.walk.wait(guard);
  --s.walkWaiters;
}

void WakeWorkers() {
  if (S().idleWorkers > 0) S().work.notify_all();
}

// Wakes idle workers once the window has room again, not at every slot freed.
void WakeWorkersIfRoomy() {
  const Shared& s = S();
  if (s.idleWorkers > 0 && s.startedAhead <= kWindowDirectories / 2 &&
      s.heldBytes <= kWindowBytes / 2) {
    S().work.notify_all();
  }
}

// The child no longer needs its parent's descriptor.
void Uncount(Node* child, Deferred& deferred) {
  if (!child->countedByParent) return;
  child->countedByParent = false;
  --child->parent->unopenedChildren;
  CloseIfDone(child->parent, deferred);
}

void Release(Node* node, Deferred& deferred);

// A child holds its parent while it may be foretold (in the list) and while
// it may still be opened relative to the parent's descriptor.
void LetGoOfParentIfDone(Node* child, Deferred& deferred) {
  if (child->holdsParent && !child->countedByParent && !child->inList) {
    child->holdsParent = false;
    Release(child->parent, deferred);
  }
}

void Release(Node* node, Deferred& deferred) {
  while (node != nullptr && --node->references == 0) {
    Uncount(node, deferred);
    DropMarker(node, deferred);
    if (node->fd >= 0) --S().heldDescriptors;  // closed with the node
    for (Page* page = node->firstPage; page != nullptr; page = page->next) {
      S().heldBytes -= page->bytes;
    }
    ReleaseSession(node->session);
    Node* parent = node->holdsParent ? node->parent : nullptr;
    deferred.Free(node);
    node = parent;
  }
}

void EndNode(Node* node, DWORD error, Deferred& deferred) {
  node->state = State::kEnded;
  node->endError = error;
  DropMarker(node, deferred);
  CloseIfDone(node, deferred);
  NotifyWalk(node);
}

// Forgets every directory foretold: the walk asked for another one.
// Forgets the first directory foretold, or the first marker.
void DropHead(Deferred& deferred) {
  Shared& s = S();
  Node* node = s.head;
  if (node->isMarker) {
    node->parent->marker = nullptr;
    node->parent->predicts = false;
    Unlink(node);
    deferred.Free(node);
    return;
  }
  Unlink(node);
  if (IsStarted(*node)) --s.startedAhead;
  node->predicts = false;
  Release(node, deferred);
}

void DropPredictions(Deferred& deferred) {
  Shared& s = S();
  while (s.head != nullptr) DropHead(deferred);
  for (Node* node = s.walking; node != nullptr; node = node->walkNext) {
    node->predicts = false;
    node->detached = true;
  }
  s.engaged = false;
}

// ---- Reading --------------------------------------------------------------

// Calls take(entry, nameLength) for each entry of a batch that the pattern
// takes and whose name fits a record; a longer name is left out rather than cut.
template <typename Take>
void ForEachTakenEntry(const char* batch, std::size_t length, const Session& session, Take take) {
  for (std::size_t offset = 0; offset < length;) {
    const auto* entry = reinterpret_cast<const struct dirent64*>(batch + offset);
    offset += entry->d_reclen;
    const std::size_t nameRoom = entry->d_reclen - offsetof(struct dirent64, d_name);
    const std::size_t nameLength = ::strnlen(entry->d_name, nameRoom);
    if (nameLength > kMaxNameLength) continue;
    if (!session.everyName &&
        !MatchesWildcard(session.pattern, session.patternLength, entry->d_name)) {
      continue;
    }
    take(*entry, nameLength);
  }
}

// A batch's taken entries in one allocation, measured first; null when
// memory is short.
Page* BuildPage(const char* batch, std::size_t length, const Session& session) {
  std::uint32_t count = 0;
  std::size_t nameBytes = 0;
  ForEachTakenEntry(batch, length, session, [&](const struct dirent64&, std::size_t nameLength) {
    ++count;
    nameBytes += nameLength + 1;
  });
  const std::size_t bytes = sizeof(Page) + count * sizeof(Entry) + nameBytes;
  void* raw = ::operator new(bytes, std::nothrow);
  if (raw == nullptr) return nullptr;
  Page* page = new (raw) Page{nullptr, bytes, count, count};
  Entry* entries = Entries(page);
  char* names = const_cast<char*>(Names(page));
  std::size_t nameOffset = 0;
  std::uint32_t index = 0;
  ForEachTakenEntry(batch, length, session,
                    [&](const struct dirent64& entry, std::size_t nameLength) {
                      Entry& described = entries[index++];
                      described.nameOffset = static_cast<std::uint32_t>(nameOffset);
                      described.nameLength = static_cast<std::uint16_t>(nameLength);
                      described.type = entry.d_type;
                      described.attributes = 0;
                      std::memcpy(names + nameOffset, entry.d_name, nameLength + 1);
                      nameOffset += nameLength + 1;
                    });
  return page;
}

std::int64_t ChangeTime(const struct statx& status) {
  return status.stx_ctime.tv_sec * std::int64_t{1000000000} + status.stx_ctime.tv_nsec;
}

// Blocks the process has read from the disk so far, its threads' included.
long BlocksRead() {
  struct rusage usage;
  return ::getrusage(RUSAGE_SELF, &usage) == 0 ? usage.ru_inblock : 0;
}

std::int64_t Now() {
  struct timespec now;
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return now.tv_sec * std::int64_t{1000000000} + now.tv_nsec;
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

void DescribeRange(Page* page, int fd, std::uint32_t begin, std::uint32_t end) {
  Entry* entries = Entries(page);
  const char* names = Names(page);
  for (std::uint32_t i = begin; i < end; ++i) {
    Entry& entry = entries[i];
    const char* name = names + entry.nameOffset;
    if (IsDotOrDotDot(name)) {
      entry.attributes = FILE_ATTRIBUTE_DIRECTORY;  // held by the search, handed out last
      continue;
    }
    WIN32_FIND_DATAA record;
    struct statx status;
    if (system_calls::Statx(fd, name, AT_SYMLINK_NOFOLLOW | kStatxLookFlags, kStatxMask, &status) !=
        0) {
      // Refused, the listing ends there; vanished, it is left out: as the
      // walk on one thread does.
      if (const DWORD refusal = ListingEndingError(errno)) {
        entry.attributes = kRefused;
        entry.reparseTag = refusal;
      }
      continue;
    }
    if (!DescribeEntry(fd, name, status, record)) continue;  // a link that went meanwhile
    entry.device = DeviceOf(status);
    entry.inode = status.stx_ino;
    entry.changed = ChangeTime(status);
    entry.attributes = record.dwFileAttributes;
    entry.reparseTag = record.dwReserved0;
    entry.size = (std::uint64_t{record.nFileSizeHigh} << 32) | record.nFileSizeLow;
    entry.creation = record.ftCreationTime;
    entry.access = record.ftLastAccessTime;
    entry.write = record.ftLastWriteTime;
  }
}

std::uint32_t ChunkEnd(const Job& job, std::uint32_t chunk) {
  const std::uint32_t end = (chunk + 1) * kChunkEntries;
  return end < job.page->count ? end : job.page->count;
}

void UnlinkJob(Job* job) {
  Shared& s = S();
  (job->prev != nullptr ? job->prev->next : s.jobsHead) = job->next;
  (job->next != nullptr ? job->next->prev : s.jobsTail) = job->prev;
}

// Takes the next chunk of job; unlinks the job once all are taken.
std::uint32_t ClaimChunk(Job* job) {
  const std::uint32_t chunk = job->nextChunk++;
  if (job->nextChunk == job->chunkCount) UnlinkJob(job);
  return chunk;
}

void RunChunk(Job* job, std::uint32_t chunk, std::unique_lock<SharedLock>& guard) {
  guard.unlock();
  DescribeRange(job->page, job->fd, chunk * kChunkEntries, ChunkEnd(*job, chunk));
  guard.lock();
  if (++job->doneChunks == job->chunkCount) NotifyProgress();
}

// The job of node's batch with a chunk nobody has taken; null when there is none.
Job* JobOf(const Node* node) {
  for (Job* job = S().jobsHead; job != nullptr; job = job->next) {
    if (job->node == node) return job;
  }
  return nullptr;
}

// Describes every entry of page, node's batch; a large batch is shared with
// idle threads. A worker waiting for the last chunks takes any batch's; the
// walk's thread only its own. Called and returns with the lock released.
void Describe(Node* node, Page* page, int fd, bool onWalk, std::unique_lock<SharedLock>& guard) {
  Shared& s = S();
  if (page->count < 2 * kChunkEntries) {
    DescribeRange(page, fd, 0, page->count);
    return;
  }
  guard.lock();
  if (s.workersStarted == 0) {
    guard.unlock();
    DescribeRange(page, fd, 0, page->count);
    return;
  }
  Job job{nullptr, nullptr, node, page, fd, (page->count + kChunkEntries - 1) / kChunkEntries,
          0,       0};
  job.prev = s.jobsTail;
  (s.jobsTail != nullptr ? s.jobsTail->next : s.jobsHead) = &job;
  s.jobsTail = &job;
  WakeWorkers();
  NotifyWalk(node);  // a walk waiting for this listing takes chunks too
  while (job.doneChunks < job.chunkCount) {
    // Its own chunks first, then any other batch's, then wait for the last ones.
    Job* from = job.nextChunk < job.chunkCount ? &job : onWalk ? nullptr : s.jobsHead;
    if (from != nullptr) {
      RunChunk(from, ClaimChunk(from), guard);
      continue;
    }
    ++s.progressWaiters;
    s.progress.wait(guard);
    --s.progressWaiters;
  }
  guard.unlock();
}

// Ends the page before the first entry whose refusal ends the listing, and
// answers its error; 0 when there is none.
DWORD CutAtRefusal(Page* page) {
  const Entry* entries = Entries(page);
  for (std::uint32_t i = 0; i < page->count; ++i) {
    if (entries[i].attributes == kRefused) {
      page->count = i;
      return entries[i].reparseTag;
    }
  }
  return 0;
}

bool IsEntered(const Entry& entry, const char* name) {
  if ((entry.attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 || IsDotOrDotDot(name)) return false;
  return (entry.attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 ||
         !IsReparseTagNameSurrogate(entry.reparseTag);
}

void FreeChildren(Node* children) {
  while (children != nullptr) {
    Node* next = children->next;
    ::operator delete(children);
    children = next;
  }
}

// The subdirectories the walk will enter, chained by next, in the page's
// order. Answers false, with nothing made, when memory is short.
bool MakeChildren(Page* page, Node*& children) {
  children = nullptr;
  Node* last = nullptr;
  const Entry* entries = Entries(page);
  const char* names = Names(page);
  for (std::uint32_t i = 0; i < page->count; ++i) {
    const char* name = names + entries[i].nameOffset;
    if (!IsEntered(entries[i], name)) continue;
    Node* child = NewNode(name, entries[i].nameLength);
    if (child == nullptr) {
      FreeChildren(children);
      children = nullptr;
      return false;
    }
    child->device = entries[i].device;
    child->inode = entries[i].inode;
    child->changed = entries[i].changed;
    (last != nullptr ? last->next : children) = child;
    last = child;
  }
  return true;
}

// Where a listing stands after the batch read into batch (length bytes).
std::int64_t OffsetAfter(const char* batch, std::size_t length) {
  const struct dirent64* last = nullptr;
  for (std::size_t offset = 0; offset < length;) {
    last = reinterpret_cast<const struct dirent64*>(batch + offset);
    offset += last->d_reclen;
  }
  return last != nullptr ? last->d_off : 0;
}

// Whether a worker that failed to open a directory for error leaves it to
// the walk's own thread: it lacked a descriptor or memory, which the walk
// may find once the workers hold less. Any other refusal is final.
bool LeftToTheWalk(int error) {
  return error == EMFILE || error == ENFILE || error == ENOMEM || error == EAGAIN || error == EINTR;
}

ListedDirectory ListedOf(const Node& node) { return ListedDirectory{node.device, node.inode}; }

// Whether node, once opened, is checked against its listing by the "." of
// its first batch rather than by a call of its own: on its parent's device
// (as the listing said of both), the inode alone names it, and the open
// refuses another mount.
bool CheckedByFirstBatch(const Node& node) {
  return node.inode != 0 && node.parent->device != 0 && node.device == node.parent->device;
}

// Whether a thread may read node's next batch: the walk's thread (onWalk)
// also one a worker gave back to it.
bool MayReadOn(const Node& node, bool onWalk) {
  if (node.state != State::kOpen || (node.walkReadsOnly && !onWalk)) return false;
  if (node.pageCount == 0) return true;  // the walk may be waiting for it
  const std::size_t ahead = node.searched ? kPagesAheadInWalk : kPagesAheadOfWalk;
  return node.pageCount < ahead && S().heldBytes < kWindowBytes;
}

bool MayOpenAhead(const Node& node) {
  const Shared& s = S();
  return node.state == State::kUnstarted && s.engaged && node.parent->fd >= 0 &&
         s.heldDescriptors < s.descriptorBudget && s.startedAhead < kWindowDirectories &&
         s.heldBytes < kWindowBytes;
}

struct Task {
  Job* job = nullptr;  // a chunk of this job
  std::uint32_t chunk = 0;
  Node* node = nullptr;  // or the next batch of this directory, opening it first if need be
  bool aside = false;    // the walk's thread helping aside from its own directory: one step
};

Task ReadTask(Node* node) {
  node->state = State::kBusy;
  ++node->references;
  Task task;
  task.node = node;
  return task;
}

// A worker's most urgent work: chunks of a shared batch, then the
// directories searches hold, then the ones foretold, in the walk's order and
// inside the window.
Task PickTask() {
  Shared& s = S();
  Task task;
  if (s.pauses > 0 || s.stopping) return task;
  if (s.jobsHead != nullptr) {
    task.job = s.jobsHead;
    task.chunk = ClaimChunk(task.job);
    return task;
  }
  for (Node* node = s.walking; node != nullptr; node = node->walkNext) {
    if (MayReadOn(*node, false)) return ReadTask(node);
  }
  std::size_t position = 0;
  for (Node* node = s.head; node != nullptr; node = node->next) {
    if (node->isMarker) continue;
    if (++position > kWindowDirectories) break;
    if (MayReadOn(*node, false)) return ReadTask(node);
    if (MayOpenAhead(*node)) {
      ++s.startedAhead;
      ++s.heldDescriptors;  // taken now, given back if the open fails
      return ReadTask(node);
    }
  }
  return task;
}

// One step the walk's thread may take aside while a worker reads the
// directory it waits for: a chunk, or one batch of another directory.
Task AsideTask() {
  // A test holding threads at named points decides which thread passes
  // which: the walk's thread then keeps to its own directory.
  if (system_calls::HookInstalled()) return Task();
  Task task = PickTask();
  task.aside = true;
  return task;
}

// The walk's own work while it waits for node: a chunk of node's batch, or
// node's next batch. While a worker reads node, and only then, one step of
// other work (a chunk, or one batch of another directory): node's next
// batch cannot be ready before that worker's, and the walk looks at node
// again after each step, so what it waits for never queues behind more than
// one step.
Task PickOwnTask(Node* node) {
  Task task;
  if (Job* job = JobOf(node)) {
    task.job = job;
    task.chunk = ClaimChunk(job);
    return task;
  }
  if (S().pauses == 0 && MayReadOn(*node, true)) return ReadTask(node);
  if (node->state != State::kBusy) return task;
  return AsideTask();
}

// Hands a batch to the node, with the subdirectories it names.
void Publish(Node* node, Page* page, Node* children, Deferred& deferred) {
  Shared& s = S();
  page->next = nullptr;
  (node->lastPage != nullptr ? node->lastPage->next : node->firstPage) = page;
  node->lastPage = page;
  ++node->pageCount;
  s.heldBytes += page->bytes;
  if (!(node->predicts && node->marker != nullptr)) {
    while (children != nullptr) {
      Node* next = children->next;
      deferred.Free(children);
      children = next;
    }
  }
  bool any = false;
  while (children != nullptr) {
    Node* child = children;
    children = children->next;
    child->parent = node;
    child->holdsParent = true;
    child->countedByParent = true;
    child->session = node->session;
    child->references = 1;  // the list's
    ++node->session->references;
    ++node->references;
    ++node->unopenedChildren;
    LinkBefore(child, node->marker);
    any = true;
  }
  if (any) WakeWorkers();
  NotifyWalk(node);
}

// Opens node ahead of the walk, relative to its parent's descriptor, which
// stays open while node counts in it. Answers false when it is not open.
bool OpenAhead(Node* node, std::unique_lock<SharedLock>& guard, Deferred& deferred) {
  Shared& s = S();
  const int parentFd = node->parent->fd;
  guard.unlock();
  system_calls::Reach(system_calls::Point::kOpeningAhead, node->Name());
  const bool checkLater = CheckedByFirstBatch(*node);
  const int fd = OpenListedDirectory(parentFd, node->Name(),
                                     checkLater ? ListedDirectory() : ListedOf(*node), kListFlags);
  const int openError = errno;
  system_calls::Reach(system_calls::Point::kOpenedAhead, node->Name());
  guard.lock();
  if (fd < 0) {
    --s.heldDescriptors;
    if (LeftToTheWalk(openError)) {
      // Still counted in its parent: the walk opens it from there. No
      // longer started ahead (an ended one still is, until taken or dropped).
      if (node->inList) --s.startedAhead;
      node->state = State::kInLine;
      NotifyWalk(node);
      return false;
    }
    Uncount(node, deferred);
    LetGoOfParentIfDone(node, deferred);
    EndNode(node, ErrorFromOpeningBelow(openError, ListedOf(*node)), deferred);
    return false;
  }
  Uncount(node, deferred);
  LetGoOfParentIfDone(node, deferred);
  node->fd = fd;
  node->unchecked = checkLater;
  node->openedAt = Now();
  if (node->inList || (node->searched && !node->detached)) {
    PlaceMarker(node, node->inList ? node->next : s.head);
  }
  NotifyWalk(node);  // the walk may wait for it to be opened
  return true;
}

// Reads batches of node until its end, the window, or more urgent work stops
// it. Entered and left with the lock held; what it lets go of goes to deferred.
void RunRead(Node* node, bool onWalk, bool oneBatch, std::unique_lock<SharedLock>& guard,
             char* scratch, Deferred& deferred) {
  Shared& s = S();
  if (node->fd < 0 && !OpenAhead(node, guard, deferred)) return;
  for (;;) {
    if (!node->inList && !node->searched) {
      // Nobody will ask for it any more.
      EndNode(node, ERROR_NO_MORE_FILES, deferred);
      return;
    }
    const int fd = node->fd;
    const bool predicts = node->predicts;
    Session* session = node->session;
    guard.unlock();
    deferred.Run();
    system_calls::Reach(system_calls::Point::kReading, node->Name());
    ssize_t length = system_calls::GetDents64(fd, scratch, kBatchSize);
    int readError = errno;
    // Read by one thread at a time: the flag is that thread's while it reads.
    if (length >= 0 && node->unchecked) {
      if (FirstBatchIsOf(ListedOf(*node), fd, scratch, static_cast<std::size_t>(length))) {
        node->unchecked = false;
      } else {
        readError = errno;
        length = -1;
      }
    }
    Page* page = nullptr;
    Node* children = nullptr;
    bool childrenMade = true;
    DWORD refusal = 0;
    if (length > 0) {
      page = BuildPage(scratch, static_cast<std::size_t>(length), *session);
      if (page != nullptr) {
        Describe(node, page, fd, onWalk, guard);
        refusal = CutAtRefusal(page);
        if (predicts) childrenMade = MakeChildren(page, children);
      }
    }
    // A worker short of memory (its own, or the kernel's for a call) gives
    // the batch back, to be read again by the walk, which would have read it
    // without workers all the same.
    const bool shortOfMemory = length > 0 ? page == nullptr || refusal == ERROR_NOT_ENOUGH_MEMORY
                                          : length < 0 && LeftToTheWalk(readError);
    const bool givenBack =
        shortOfMemory && !onWalk && ::lseek(fd, node->resumeOffset, SEEK_SET) == node->resumeOffset;
    if (givenBack && page != nullptr) {
      FreeChildren(children);
      ::operator delete(page);
    }
    guard.lock();
    if (givenBack) {
      node->walkReadsOnly = true;
      node->state = State::kOpen;
      NotifyWalk(node);
      return;
    }
    if (length <= 0) {
      EndNode(node,
              length == 0                      ? ERROR_NO_MORE_FILES
              : ChangedSinceListing(readError) ? ERROR_FILE_INVALID
                                               : ErrorFromErrno(readError, ERROR_PATH_NOT_FOUND),
              deferred);
      return;
    }
    if (page == nullptr) {
      EndNode(node, ERROR_NOT_ENOUGH_MEMORY, deferred);
      return;
    }
    node->resumeOffset = OffsetAfter(scratch, static_cast<std::size_t>(length));
    if (!childrenMade) {
      // The walk will ask for them all the same, and they are read in line.
      node->predicts = false;
      DropMarker(node, deferred);
    }
    Publish(node, page, children, deferred);
    if (refusal != 0) {
      EndNode(node, refusal, deferred);
      return;
    }
    // Read on while nothing more urgent waits and the window has room.
    node->state = State::kOpen;
    if (oneBatch || s.jobsHead != nullptr || s.pauses > 0 || s.stopping ||
        !MayReadOn(*node, onWalk)) {
      return;
    }
    node->state = State::kBusy;
  }
}

void Run(const Task& task, bool onWalk, std::unique_lock<SharedLock>& guard, char* scratch) {
  Shared& s = S();
  ++s.running;
  if (task.job != nullptr) {
    RunChunk(task.job, task.chunk, guard);
  } else {
    Deferred deferred;
    // Aside from its own directory, the walk's thread reads as a worker does.
    RunRead(task.node, onWalk && !task.aside, task.aside, guard, scratch, deferred);
    Release(task.node, deferred);
    guard.unlock();
    deferred.Run();
    guard.lock();
  }
  if (--s.running == 0 && s.pauses > 0) NotifyProgress();
}

// Waits until no thread runs a task, with no new one picked meanwhile.
void PauseTasks(std::unique_lock<SharedLock>& guard) {
  Shared& s = S();
  ++s.pauses;
  while (s.running > 0) {
    ++s.progressWaiters;
    s.progress.wait(guard);
    --s.progressWaiters;
  }
}

void ResumeTasks() {
  if (--S().pauses == 0) WakeWorkers();
}

void* WorkerMain(void*) {
  alignas(struct dirent64) char scratch[kBatchSize];
  Shared& s = S();
  std::unique_lock<SharedLock> guard(s.lock);
  while (!s.stopping) {
    const Task task = PickTask();
    if (task.job == nullptr && task.node == nullptr) {
      ++s.idleWorkers;
      s.work.wait(guard);
      --s.idleWorkers;
      continue;
    }
    Run(task, false, guard, scratch);
  }
  return nullptr;
}

// At exit the workers finish the call they are in and leave, and are
// joined, so that a leak checker finds nothing of theirs (their stacks and
// thread records are the C library's to reclaim at the join). A worker
// still in a system call at the deadline (a directory on a disk or server
// that does not answer) is left to the kernel, which ends it with the
// process: the walk needs nothing more from it, and the exit must not wait
// for the disk.
void StopWorkers() {
  constexpr long kJoinNanoseconds = 999'999'999;  // just under a second
  Shared& s = S();
  unsigned started = 0;
  {
    const std::lock_guard<SharedLock> guard(s.lock);
    s.stopping = true;
    s.work.notify_all();
    s.progress.notify_all();
    s.walk.notify_all();
    started = s.workersStarted;
  }
  struct timespec deadline;
  ::clock_gettime(CLOCK_REALTIME, &deadline);
  deadline.tv_nsec += kJoinNanoseconds;
  if (deadline.tv_nsec >= 1'000'000'000) {
    deadline.tv_nsec -= 1'000'000'000;
    ++deadline.tv_sec;
  }
  for (unsigned i = 0; i < started; ++i) {
    if (::pthread_timedjoin_np(s.workers[i], nullptr, &deadline) != 0) return;
  }
}

void StartWorkers() {
  // A worker's frames are few, besides its batch: its stack must not depend
  // on the stack limit the process started with, and a small one leaves the
  // address space to the walk when it is limited.
  constexpr std::size_t kWorkerStack = kBatchSize + 128 * 1024;
  Shared& s = S();
  while (s.workersStarted + 1 < s.threads) {
    pthread_attr_t attributes;
    const bool started =
        ::pthread_attr_init(&attributes) == 0 &&
        ::pthread_attr_setstacksize(&attributes, kWorkerStack) == 0 &&
        ::pthread_create(&s.workers[s.workersStarted], &attributes, WorkerMain, nullptr) == 0;
    ::pthread_attr_destroy(&attributes);
    if (!started) {
      s.threads = s.workersStarted + 1;  // the walk goes on with those it has
      return;
    }
    ++s.workersStarted;
  }
}

// A fork waits for every task to end, so that the child's copy of the shared
// state holds no half-done work; the child starts its own workers.
void BeforeFork() {
  Shared& s = S();
  std::unique_lock<SharedLock> guard(s.lock);
  PauseTasks(guard);
  guard.release();  // held across the fork
}

void AfterForkInParent() {
  Shared& s = S();
  ResumeTasks();
  s.lock.unlock();
}

void AfterForkInChild() {
  Shared& s = S();
  new (&s.lock) SharedLock();
  new (&s.work) SharedCondition();
  new (&s.progress) SharedCondition();
  new (&s.walk) SharedCondition();
  s.walkWaiters = 0;
  s.pauses = 0;
  s.workersStarted = 0;  // the parent's are not the child's to join
  s.idleWorkers = 0;
  s.progressWaiters = 0;
  s.threads = WalkThreads();
  s.blocksAtStart = BlocksRead();
  s.directoriesSinceDiskCheck = 0;
}

// A walk that reads from the disk waits on it: more threads then keep more
// reads in flight. A warm cache reads nothing, and keeps one thread a core.
void GrowIfReadingFromDisk(std::unique_lock<SharedLock>& guard) {
  Shared& s = S();
  if (s.threads >= s.diskThreads || ++s.directoriesSinceDiskCheck < kDirectoriesPerDiskCheck) {
    return;
  }
  s.directoriesSinceDiskCheck = 0;
  guard.unlock();
  const bool reading = BlocksRead() - s.blocksAtStart > kDiskBlocks;
  guard.lock();
  if (reading) s.threads = s.diskThreads;
}

bool Configure() {
  const unsigned threads = WalkThreads();
  if (threads <= 1) return false;
  Shared* s = new (sharedStorage) Shared();
  s->threads = threads;
  s->diskThreads = DiskWalkThreads();
  s->blocksAtStart = BlocksRead();
  ::pthread_atfork(BeforeFork, AfterForkInParent, AfterForkInChild);
  std::atexit(StopWorkers);
  return true;
}

// Remembers the path of the directory the walk asked for; null path: only
// its first keep characters stay, the rest is appended from path + keep.
void RememberPath(const char* path, std::size_t keep, std::size_t length) {
  Shared& s = S();
  if (length + 1 > s.currentCapacity) {
    const std::size_t capacity = (length + 1) * 2;
    char* grown = static_cast<char*>(::operator new(capacity, std::nothrow));
    if (grown == nullptr) {
      s.pathKnown = false;  // nothing more is foretold: every directory is read as asked
      return;
    }
    if (keep > 0) std::memcpy(grown, s.currentPath, keep);
    ::operator delete(s.currentPath);
    s.currentPath = grown;
    s.currentCapacity = capacity;
  }
  std::memcpy(s.currentPath + keep, path + keep, length - keep);
  s.currentPath[length] = '\0';
  s.currentLength = length;
  s.pathKnown = true;
}

// The directory the walk was foretold to ask for next, if directory is its
// path and pattern the one its parent was asked with; taken out of the list.
// Lets go of what was read of node, which the walk has taken from the list,
// and of what was foretold from it, so that it is opened and read again.
// What it foretold lies at the head of the list, up to its marker.
void ForgetWhatWasRead(Node* node, Deferred& deferred) {
  Shared& s = S();
  while (node->marker != nullptr) DropHead(deferred);
  if (node->fd >= 0) {
    deferred.Close(node->fd);
    node->fd = -1;
    --s.heldDescriptors;
  }
  for (Page* page = node->firstPage; page != nullptr; page = page->next) s.heldBytes -= page->bytes;
  deferred.FreePages(node->firstPage);
  node->firstPage = node->lastPage = nullptr;
  node->pageCount = 0;
  node->state = State::kUnstarted;
  node->openedAt = 0;
  node->resumeOffset = 0;
  node->walkReadsOnly = false;
  node->predicts = false;
}

// Whether directory (length characters) is the path of node, a directory
// foretold from a listing of the walk's current branch.
bool IsPathOf(const Node& node, const char* directory, std::size_t length) {
  const Shared& s = S();
  const std::size_t parentLength = node.parent->pathLength;
  return s.pathKnown && length == parentLength + 1 + node.nameLength &&
         parentLength <= s.currentLength && directory[parentLength] == '/' &&
         std::memcmp(directory + parentLength + 1, node.Name(), node.nameLength) == 0 &&
         std::memcmp(directory, s.currentPath, parentLength) == 0;
}

Node* TakeForetold(const char* directory, std::size_t length, const char* pattern,
                   std::size_t patternLength) {
  Shared& s = S();
  Node* node = s.head;
  while (node != nullptr && node->isMarker) node = node->next;
  if (node == nullptr || !IsPathOf(*node, directory, length)) return nullptr;
  const Session& session = *node->session;
  if (session.patternLength != patternLength ||
      std::memcmp(session.pattern, pattern, patternLength) != 0) {
    return nullptr;
  }
  const std::size_t parentLength = node->parent->pathLength;
  Unlink(node);
  if (IsStarted(*node)) --s.startedAhead;
  node->searched = true;
  node->pathLength = length;
  LinkWalking(node);
  RememberPath(directory, parentLength, length);
  s.engaged = true;
  return node;
}

// What a listing said of directory, foretold but asked for out of turn;
// nothing when no listing foretold it.
ListedDirectory FindListed(const char* directory, std::size_t length) {
  for (const Node* node = S().head; node != nullptr; node = node->next) {
    if (!node->isMarker && IsPathOf(*node, directory, length)) return ListedOf(*node);
  }
  return ListedDirectory();
}

// Opens on the walk's thread a directory no worker opened: relative to its
// parent's descriptor while it still counts in the parent (which keeps that
// descriptor open for it), else below the walk's start; checked against the
// listing either way. Short of descriptors, it first lets go of everything
// read ahead, as the walk on one thread holds nothing ahead, and waits until
// no task holds a descriptor.
void OpenInLine(Node* node, const char* directory, std::size_t length,
                std::unique_lock<SharedLock>& guard, Deferred& deferred) {
  Shared& s = S();
  node->state = State::kBusy;
  const int parentFd = node->countedByParent ? node->parent->fd : -1;
  const ListedDirectory listed = ListedOf(*node);
  guard.unlock();
  deferred.Run();
  system_calls::Reach(system_calls::Point::kOpeningInLine, node->Name());
  int fd = parentFd >= 0 ? OpenListedDirectory(parentFd, node->Name(), listed, kListFlags)
                         : OpenBelowStart(directory, length, listed, kListFlags);
  int openError = errno;
  guard.lock();
  if (fd < 0 && (openError == EMFILE || openError == ENFILE) &&
      (s.heldDescriptors > 0 || s.running > 0)) {
    // Opened from the start from now on: the parent's descriptor may go too.
    Uncount(node, deferred);
    LetGoOfParentIfDone(node, deferred);
    DropPredictions(deferred);
    PauseTasks(guard);
    guard.unlock();
    deferred.Run();
    fd = OpenBelowStart(directory, length, listed, kListFlags);
    openError = errno;
    guard.lock();
    ResumeTasks();
  }
  Uncount(node, deferred);
  LetGoOfParentIfDone(node, deferred);
  if (fd < 0) {
    EndNode(node, ErrorFromOpeningBelow(openError, ListedOf(*node)), deferred);
    return;
  }
  node->fd = fd;
  ++s.heldDescriptors;
  node->state = State::kOpen;
  // Foretelling goes on from here, unless the walk let go of it above.
  if (!node->detached) PlaceMarker(node, s.head);
}

void FinishSearch(Node* node, Deferred& deferred) {
  node->searched = false;
  UnlinkWalking(node);
  Release(node, deferred);
}

void FillRecord(const Entry& entry, const char* name, WIN32_FIND_DATAA& record) {
  record.dwFileAttributes = entry.attributes;
  record.dwReserved0 = entry.reparseTag;
  record.nFileSizeHigh = static_cast<DWORD>(entry.size >> 32);
  record.nFileSizeLow = static_cast<DWORD>(entry.size);
  record.ftCreationTime = entry.creation;
  record.ftLastAccessTime = entry.access;
  record.ftLastWriteTime = entry.write;
  std::memcpy(record.cFileName, name, entry.nameLength + 1u);
  record.dwReserved1 = 0;
  record.cAlternateFileName[0] = '\0';
}

// The batch the cursor has handed out is freed once the lock is left.
void LetGoOfPage(Cursor& cursor, Deferred& deferred) {
  S().heldBytes -= cursor.page->bytes;
  cursor.page->next = nullptr;
  deferred.FreePages(cursor.page);
  cursor.page = nullptr;
  WakeWorkersIfRoomy();
}

// Opens a directory the walk asked for that was not foretold (or was read
// too long ago and changed since): below the start as listed, when it lies
// there, or as the start of a new walk. Called without the lock. -1 on
// failure, with the platform's error in error.
int OpenAsAsked(const char* directory, std::size_t length, const ListedDirectory& listed,
                DWORD& error) {
  Shared& s = S();
  const bool below = IsBelowStart(directory, length);
  std::size_t budget = 0;
  if (!below) budget = ReadAheadDescriptors();
  int fd =
      below ? OpenBelowStart(directory, length, listed, kListFlags) : OpenStart(directory, length);
  int openError = errno;
  std::unique_lock<SharedLock> guard(s.lock);
  if (fd < 0 && (openError == EMFILE || openError == ENFILE) &&
      (s.heldDescriptors > 0 || s.running > 0)) {
    // Descriptors a task still holds are given back once it ends.
    PauseTasks(guard);
    guard.unlock();
    fd = below ? OpenBelowStart(directory, length, listed, kListFlags)
               : OpenStart(directory, length);
    openError = errno;
    guard.lock();
    ResumeTasks();
  }
  if (!below) s.descriptorBudget = budget;
  if (fd < 0) {
    error = below ? ErrorFromOpeningBelow(openError, listed) : ErrorFromOpening(openError);
  }
  return fd;
}

}  // namespace

bool Enabled() {
  static const bool enabled = Configure();
  return enabled;
}

bool Begin(const char* directory, std::size_t length, const char* pattern,
           std::size_t patternLength, Cursor& cursor, DWORD& error) {
  Shared& s = S();
  Deferred deferred;
  std::unique_lock<SharedLock> guard(s.lock);
  GrowIfReadingFromDisk(guard);
  StartWorkers();
  const bool engaging = !s.engaged;
  ListedDirectory listed;  // what its parent's listing said of it, when it was foretold
  Node* node = TakeForetold(directory, length, pattern, patternLength);
  if (node != nullptr) {
    listed = ListedOf(*node);
    // A worker opening it is waited for: if the worker gives it back, it is
    // opened here, where its path is known.
    while (node->state == State::kBusy && node->fd < 0) {
      system_calls::Reach(system_calls::Point::kWaitingForWorker, node->Name());
      WaitForWalk(node, guard);
    }
  }
  if (node != nullptr && node->openedAt != 0 && Now() - node->openedAt > kFreshNanoseconds) {
    const std::int64_t changed = node->changed;
    guard.unlock();
    system_calls::Reach(system_calls::Point::kCheckingFreshness, node->Name());
    const bool same = StillTheSame(directory, length, listed, changed);
    guard.lock();
    if (!same) {
      // Read again as it is now, if it is still the directory listed: its
      // siblings stay foretold, so that each is still checked against the
      // listing that named it.
      while (node->state == State::kBusy) WaitForWalk(node, guard);
      ForgetWhatWasRead(node, deferred);
    }
  }
  if (node != nullptr) {
    if (node->state == State::kUnstarted || node->state == State::kInLine) {
      ++node->references;
      OpenInLine(node, directory, length, guard, deferred);
      Release(node, deferred);  // cannot be the last: the search holds it
    }
    LetGoOfParentIfDone(node, deferred);
    // The list's reference becomes the search's.
    cursor.node = node;
    if (engaging) {
      WakeWorkers();
    } else {
      WakeWorkersIfRoomy();
    }
    return true;
  }

  // Not foretold: read as it comes, and foretell from here on.
  if (listed.inode == 0) listed = FindListed(directory, length);
  DropPredictions(deferred);
  guard.unlock();
  deferred.Run();
  const int fd = OpenAsAsked(directory, length, listed, error);
  if (fd < 0) return false;
  Session* session = static_cast<Session*>(::operator new(sizeof(Session), std::nothrow));
  node = session != nullptr ? NewNode("", 0) : nullptr;
  if (node == nullptr) {
    ::operator delete(session);
    ::close(fd);
    error = ERROR_NOT_ENOUGH_MEMORY;
    return false;
  }
  session->references = 1;
  session->everyName = MatchesEveryName(pattern, patternLength);
  session->patternLength = patternLength;
  std::memcpy(session->pattern, pattern, patternLength);
  session->pattern[patternLength] = '\0';
  node->session = session;
  node->fd = fd;
  node->state = State::kOpen;
  node->references = 1;  // the search's
  node->searched = true;
  node->pathLength = length;
  guard.lock();
  ++s.heldDescriptors;
  LinkWalking(node);
  RememberPath(directory, 0, length);
  PlaceMarker(node, s.head);
  cursor.node = node;
  WakeWorkers();
  return true;
}

void Settle() {
  if (!Enabled()) return;
  Shared& s = S();
  Deferred deferred;
  std::unique_lock<SharedLock> guard(s.lock);
  DropPredictions(deferred);
  PauseTasks(guard);
  ResumeTasks();
}

bool Next(Cursor& cursor, WIN32_FIND_DATAA& record, DWORD& error) {
  Shared& s = S();
  for (;;) {
    if (cursor.page != nullptr) {
      const Entry* entries = Entries(cursor.page);
      const char* names = Names(cursor.page);
      while (cursor.index < cursor.page->count) {
        const Entry& entry = entries[cursor.index++];
        if (entry.attributes == 0) continue;
        const char* name = names + entry.nameOffset;
        if (IsDotOrDotDot(name)) {
          cursor.heldDots |= name[1] == '\0' ? kHeldDot : kHeldDotDot;
          continue;
        }
        FillRecord(entry, name, record);
        return true;
      }
      // Let go of under the lock that takes the next batch: one lock, not two.
    }
    if (cursor.node == nullptr) {
      if (cursor.page != nullptr) {
        Deferred deferred;
        const std::lock_guard<SharedLock> guard(s.lock);
        LetGoOfPage(cursor, deferred);
      }
      if (cursor.heldDots != 0) {
        HandOutHeldDot(cursor.heldDots, record);
        return true;
      }
      error = ERROR_NO_MORE_FILES;
      return false;
    }
    Deferred deferred;
    std::unique_lock<SharedLock> guard(s.lock);
    if (cursor.page != nullptr) LetGoOfPage(cursor, deferred);
    Node* node = cursor.node;
    // Begin handed out the directory opened or ended; from then on whoever
    // reads it (kBusy) moves it on and wakes this thread, whatever it leaves
    // it in, and an open one nobody reads (kOpen) is read here.
    for (;;) {
      if (node->firstPage != nullptr) {
        cursor.page = node->firstPage;
        node->firstPage = cursor.page->next;
        if (node->firstPage == nullptr) node->lastPage = nullptr;
        --node->pageCount;
        cursor.index = 0;
        WakeWorkersIfRoomy();
        break;
      }
      if (node->state == State::kEnded) {
        error = node->endError;
        FinishSearch(node, deferred);
        cursor.node = nullptr;
        if (error != ERROR_NO_MORE_FILES) {
          cursor.heldDots = 0;  // a listing cut short ends with its error
          return false;
        }
        if (cursor.heldDots == 0) return false;
        HandOutHeldDot(cursor.heldDots, record);
        return true;
      }
      const Task task = PickOwnTask(node);
      if (task.job != nullptr || task.node != nullptr) {
        Run(task, true, guard, cursor.scratch);
        continue;
      }
      WaitForWalk(node, guard);
    }
  }
}

void End(Cursor& cursor) {
  // A search that never began holds nothing, and the shared state may never
  // have been made (no read-ahead).
  if (cursor.page == nullptr && cursor.node == nullptr) return;
  Shared& s = S();
  Deferred deferred;
  const std::lock_guard<SharedLock> guard(s.lock);
  if (cursor.page != nullptr) LetGoOfPage(cursor, deferred);
  if (cursor.node != nullptr) {
    FinishSearch(cursor.node, deferred);
    cursor.node = nullptr;
  }
}

}  // namespace read_ahead
