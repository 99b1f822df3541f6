// The directories the walk is foretold to ask for, and those it holds.
//
// The walk asks for a directory's subdirectories in the order its listing
// named them, depth first. Each batch read of a directory the walk is in
// names some of them: they go into the foretold list, in the walk's order,
// before the directory's marker, which stands where the next batch's will
// go. A directory the walk asks for is taken from the head of the list; one
// asked for out of turn drops every prediction, and foretelling starts
// again from it.
//
// A node is counted: by the list while it is foretold, by a search while
// the walk holds it, by a thread working on it, and by each child that
// holds it. A child holds its parent while it may still be opened relative
// to the parent's descriptor, which stays open (is pinned) until its last
// such child is opened or dropped.
//
// Not thread-safe: the caller holds the read-ahead's lock for every call,
// and what the tree lets go of (descriptors, nodes, batches) is handed to a
// Deferred, to be closed and freed once the lock is left.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/posix/batch_reader.h"
#include "platform/posix/described_batch.h"
#include "platform/posix/open_below.h"
#include "platform/posix/path_memory.h"
#include "platform/win32.h"

namespace read_ahead {

// Where a directory stands, and who moves it on from there.
enum class State : std::uint8_t {
  kUnstarted,  // named by its parent's listing, not opened: a worker picks it, or the walk opens it
  kGivenBack,  // a worker could not open it (no descriptor or memory to spare): the walk opens
               // it when it asks for it, still counted in its parent so that the parent's
               // descriptor stays open for it
  kOpen,       // open with more to read, and nobody reading it: picked by a worker or the walk
  kBusy,       // a thread opens it or reads its next batch: that thread moves it on, and wakes
               // the walk whatever it leaves it in
  kEnded,      // read to its end, or to the error in endError: final
};

// The names the walk asks for, the same for every directory below the one
// it started from; counted by the nodes that use it.
struct SharedPattern {
  std::size_t references;
  NameFilter filter;
};

// A directory the walk has asked for or will ask for. Its name follows it in
// the same allocation. Every field but its name, parent and pattern (fixed
// before it is shared) is guarded by the read-ahead's lock.
struct Node {
  Node* prev;  // in the foretold list: the walk's order
  Node* next;
  Node* searchPrev;  // among the directories searches hold
  Node* searchNext;
  Node* parent;  // opened relative to its descriptor; for a marker, the directory it ends
  Node* marker;  // while its listing is read: where the subdirectories it names go in the list
  SharedPattern* pattern;
  State state;
  bool isMarker;
  bool foretold;         // in the foretold list
  bool searched;         // a search holds it
  bool predicts;         // its subdirectories go into the list
  bool detached;         // searched, but no longer part of what is foretold
  bool holdsParent;      // holds a reference on parent: until the walk asks for it
  bool countedByParent;  // counts in parent->unopenedChildren: until opened or dropped
  bool walkReadsOnly;    // a worker lacked the memory for its next batch: the walk reads on
  // Even the walk's own thread lacked the memory for a batch once nothing was
  // held ahead: it reads on in line, an entry at a time into the search's own
  // room, as the walk on one thread does. The walk's thread alone reads it.
  bool walkReadsInLine;
  bool unchecked;  // opened on its parent's device: its first batch's "." is checked
  // Whether its files are asked how they are stored: -1 until its reader
  // has asked its file system. Read and set by that reader alone.
  std::int8_t asksStorage;
  int fd;
  DWORD endError;
  // The list, a search, a thread working on it, each child that holds it.
  std::size_t references;
  std::size_t unopenedChildren;
  DescribedBatch* firstBatch;  // read, not yet handed out
  DescribedBatch* lastBatch;
  std::size_t batchCount;
  std::size_t pathLength;  // once the walk has asked for it
  // As its parent's listing described it, and when a worker opened it: a
  // directory read ahead is the same one when the walk reaches it if these
  // have not changed.
  std::uint64_t device;
  std::uint64_t inode;
  DWORD refusal;   // the listing could not look at it: refused with this error, never opened
  bool mountRoot;  // a mount's root the run searches (ListedDirectory)
  std::int64_t changed;
  std::int64_t openedAt;  // 0: opened on the walk's thread, when asked for
  // When the walk last knew it to be where its listing put it, below the
  // start: when opened by its path from the start, or as its parent was when
  // opened relative to its parent, or when the walk made sure again.
  // INT64_MAX for the start itself, which is always where the walk is.
  std::int64_t placedAt;
  // Its subdirectories a worker is opening relative to its descriptor at
  // this moment: the descriptor is not closed until they are done.
  std::size_t openingChildren;
  // Where the listing stands after the last batch read, to read a batch again
  // that was read and could not be kept.
  std::int64_t resumeOffset;
  std::size_t nameLength;

  const char* Name() const { return reinterpret_cast<const char*>(this + 1); }
  bool IsStarted() const { return state != State::kUnstarted && state != State::kGivenBack; }
  ListedDirectory Listed() const { return ListedDirectory{device, inode, refusal, mountRoot}; }
};

// What a thread lets go of once it has left the lock: descriptors, nodes and
// batches. Declared before the lock's guard, it runs after the guard unlocks.
class Deferred {
 public:
  Deferred() = default;
  Deferred(const Deferred&) = delete;
  Deferred& operator=(const Deferred&) = delete;
  ~Deferred();

  void Close(int fd);
  void Free(Node* node);
  void FreeBatches(DescribedBatch* first);
  // Only outside the lock.
  void Run();

 private:
  // Room for more descriptors than the fixed list holds, made once: a walk
  // dropping its predictions lets go of a descriptor for each directory of
  // the window and each parent they kept open, far fewer than this.
  bool Grow();

  static constexpr std::size_t kMaxFds = 16;
  static constexpr std::size_t kMoreFds = 4096;
  int fds[kMaxFds];
  int* more = nullptr;
  std::size_t fdRoom = kMaxFds;
  std::size_t fdCount = 0;
  Node* nodes = nullptr;
  DescribedBatch* batches = nullptr;
};

class ForetoldTree {
 public:
  // The window: directories opened ahead of the walk and not yet asked for,
  // and bytes of listings read and not yet handed out. Together with the
  // descriptor budget they are all the read-ahead holds.
  static constexpr std::size_t kWindowDirectories = 128;
  static constexpr std::size_t kWindowBytes = std::size_t{8} << 20;

  ForetoldTree() = default;
  ForetoldTree(const ForetoldTree&) = delete;
  ForetoldTree& operator=(const ForetoldTree&) = delete;

  std::size_t startedAhead = 0;  // directories of the list opened, or being opened
  std::size_t heldBytes = 0;     // of batches not yet handed out
  std::size_t heldDescriptors = 0;
  std::size_t descriptorBudget = 0;  // set as each walk starts
  bool engaged = false;              // the walk asked for a subdirectory: it recurses

  // The first of the foretold list, markers included.
  Node* Head() const { return head; }
  // The first of the directories searches hold.
  Node* Searched() const { return searching; }
  // Whether the window has room again, with some to spare.
  bool Roomy() const {
    return startedAhead <= kWindowDirectories / 2 && heldBytes <= kWindowBytes / 2;
  }

  // A node of its own allocation, named; null when memory is short.
  static Node* NewNode(const char* name, std::size_t nameLength);

  // Makes node, open as node->fd with its pattern set, the directory asked
  // for at path (length characters) out of turn: a search holds it, and the
  // directories its listing names are foretold.
  void StartSearchAt(Node* node, const char* path, std::size_t length);
  // The directory foretold next, if path names it and its walk asks with
  // pattern; taken out of the list, held by a search from now on.
  Node* TakeForetold(const char* path, std::size_t length, const char* pattern,
                     std::size_t patternLength);
  // What a listing said of path, foretold but asked for out of turn;
  // nothing when no listing foretold it.
  ListedDirectory FindListed(const char* path, std::size_t length) const;

  // Links before `before` (null: at the end) the marker after which the
  // subdirectories of node are foretold. When memory is short nothing is
  // foretold from node: its subdirectories are then read in line.
  void PlaceMarker(Node* node, Node* before);
  void DropMarker(Node* node, Deferred& deferred);

  // The subdirectories batch names that the walk will enter, chained by
  // next, in the batch's order: null, and false, when memory is short.
  static bool MakeChildren(const DescribedBatch& batch, Node*& children);
  static void FreeChildren(Node* children, Deferred& deferred);
  // Hands batch to node, and foretells children from it if node predicts.
  // Answers whether any child was foretold.
  bool Publish(Node* node, DescribedBatch* batch, Node* children, Deferred& deferred);
  // node's first batch, which the walk takes to hand out; null when none is read.
  DescribedBatch* TakeBatch(Node* node);
  void LetGoOfBatch(DescribedBatch* batch, Deferred& deferred);

  // node, read to its end or to error, lets go of what it no longer needs.
  void End(Node* node, DWORD error, Deferred& deferred);
  // child no longer needs its parent's descriptor: opened, or given up.
  void StopCountingInParent(Node* child, Deferred& deferred);
  // child lets go of its parent once nothing of it needs the parent.
  void LetGoOfParentIfDone(Node* child, Deferred& deferred);
  // Drops one reference on node, and frees whatever that was the last of.
  void Release(Node* node, Deferred& deferred);
  // The search of node ends.
  void FinishSearch(Node* node, Deferred& deferred);

  // Forgets every directory foretold: the walk asked for another one.
  void DropPredictions(Deferred& deferred);
  // Lets go of what was read of node, which the walk has taken from the
  // list, and of what was foretold from it, so that it is opened and read
  // again.
  void ForgetWhatWasRead(Node* node, Deferred& deferred);

 private:
  void LinkBefore(Node* node, Node* before);
  void Unlink(Node* node);
  void LinkSearched(Node* node, const char* path, std::size_t keep, std::size_t length);
  void UnlinkSearched(Node* node);
  void CloseIfDone(Node* node, Deferred& deferred);
  void DropHead(Deferred& deferred);
  bool IsPathOf(const Node& node, const char* path, std::size_t length) const;

  Node* head = nullptr;  // the list: directories the walk will ask for, in its order
  Node* tail = nullptr;
  Node* searching = nullptr;  // directories searches hold
  // The path of the directory the walk asked for last; those it asks for
  // next are named from its leading part.
  PathMemory path;
  bool pathKnown = false;  // false: nothing is foretold, every directory is read as asked
};

}  // namespace read_ahead
