#include "platform/posix/foretold_tree.h"

#include <unistd.h>

#include <cstring>
#include <new>

#include "find/entered_directory.h"
#include "platform/port.h"

namespace read_ahead {

// ---- Deferred ----------------------------------------------------------------

Deferred::~Deferred() {
  Run();
  ::operator delete(more);
}

void Deferred::Close(int fd) {
  if (fdCount == fdRoom && !Grow()) {
    ::close(fd);  // only when no memory is left for the list
    return;
  }
  (fdCount < kMaxFds ? fds[fdCount] : more[fdCount - kMaxFds]) = fd;
  ++fdCount;
}

void Deferred::Free(Node* node) {
  node->next = nodes;
  nodes = node;
}

void Deferred::FreeBatches(DescribedBatch* first) {
  while (first != nullptr) {
    DescribedBatch* next = first->next;
    first->next = batches;
    batches = first;
    first = next;
  }
}

void Deferred::Run() {
  for (std::size_t i = 0; i < fdCount; ++i) ::close(i < kMaxFds ? fds[i] : more[i - kMaxFds]);
  fdCount = 0;
  while (nodes != nullptr) {
    Node* next = nodes->next;
    if (nodes->fd >= 0) ::close(nodes->fd);
    read_ahead::FreeBatches(nodes->firstBatch);
    ::operator delete(nodes);
    nodes = next;
  }
  read_ahead::FreeBatches(batches);
  batches = nullptr;
}

bool Deferred::Grow() {
  if (more != nullptr) return false;
  more = static_cast<int*>(::operator new(kMoreFds * sizeof(int), std::nothrow));
  if (more == nullptr) return false;
  fdRoom = kMaxFds + kMoreFds;
  return true;
}

// ---- The lists -----------------------------------------------------------------

void ForetoldTree::LinkBefore(Node* node, Node* before) {
  node->next = before;
  node->prev = before != nullptr ? before->prev : tail;
  (node->prev != nullptr ? node->prev->next : head) = node;
  (before != nullptr ? before->prev : tail) = node;
  node->foretold = true;
}

void ForetoldTree::Unlink(Node* node) {
  (node->prev != nullptr ? node->prev->next : head) = node->next;
  (node->next != nullptr ? node->next->prev : tail) = node->prev;
  node->prev = node->next = nullptr;
  node->foretold = false;
}

// A search holds node from now on, at path, of which the first keep
// characters name its parent, as they did the directory asked for before.
void ForetoldTree::LinkSearched(Node* node, const char* nodePath, std::size_t keep,
                                std::size_t length) {
  node->searched = true;
  node->pathLength = length;
  node->searchPrev = nullptr;
  node->searchNext = searching;
  if (searching != nullptr) searching->searchPrev = node;
  searching = node;
  // Without the path, nothing more is foretold: every directory is read as asked.
  pathKnown = path.Remember(nodePath, keep, length);
}

void ForetoldTree::UnlinkSearched(Node* node) {
  (node->searchPrev != nullptr ? node->searchPrev->searchNext : searching) = node->searchNext;
  if (node->searchNext != nullptr) node->searchNext->searchPrev = node->searchPrev;
  node->searchPrev = node->searchNext = nullptr;
  node->searched = false;
}

Node* ForetoldTree::NewNode(const char* name, std::size_t nameLength) {
  void* memory = ::operator new(sizeof(Node) + nameLength + 1, std::nothrow);
  if (memory == nullptr) return nullptr;
  Node* node = new (memory) Node();
  char* nodeName = reinterpret_cast<char*>(node + 1);
  std::memcpy(nodeName, name, nameLength);
  nodeName[nameLength] = '\0';
  node->nameLength = nameLength;
  node->fd = -1;
  node->state = State::kUnstarted;
  node->asksStorage = -1;
  return node;
}

// ---- Asking -------------------------------------------------------------------

void ForetoldTree::StartSearchAt(Node* node, const char* nodePath, std::size_t length) {
  ++heldDescriptors;
  LinkSearched(node, nodePath, 0, length);
  PlaceMarker(node, head);
}

// Whether path (length characters) is the path of node, a directory
// foretold from a listing of the walk's current branch.
bool ForetoldTree::IsPathOf(const Node& node, const char* nodePath, std::size_t length) const {
  const std::size_t parentLength = node.parent->pathLength;
  return pathKnown && length == parentLength + 1 + node.nameLength &&
         nodePath[parentLength] == '/' &&
         std::memcmp(nodePath + parentLength + 1, node.Name(), node.nameLength) == 0 &&
         path.Leads(nodePath, parentLength);
}

Node* ForetoldTree::TakeForetold(const char* nodePath, std::size_t length, const char* pattern,
                                 std::size_t patternLength) {
  Node* node = head;
  while (node != nullptr && node->isMarker) node = node->next;
  if (node == nullptr || !IsPathOf(*node, nodePath, length) ||
      !node->pattern->filter.IsFor(pattern, patternLength)) {
    return nullptr;
  }
  Unlink(node);
  if (node->IsStarted()) --startedAhead;
  LinkSearched(node, nodePath, node->parent->pathLength, length);
  engaged = true;
  return node;
}

ListedDirectory ForetoldTree::FindListed(const char* nodePath, std::size_t length) const {
  for (const Node* node = head; node != nullptr; node = node->next) {
    if (!node->isMarker && IsPathOf(*node, nodePath, length)) return node->Listed();
  }
  return ListedDirectory();
}

// ---- Foretelling ----------------------------------------------------------------

void ForetoldTree::PlaceMarker(Node* node, Node* before) {
  Node* marker = NewNode("", 0);
  node->predicts = marker != nullptr;
  if (marker == nullptr) return;
  marker->isMarker = true;
  marker->parent = node;
  marker->state = State::kEnded;
  node->marker = marker;
  LinkBefore(marker, before);
}

void ForetoldTree::DropMarker(Node* node, Deferred& deferred) {
  if (node->marker == nullptr) return;
  Unlink(node->marker);
  deferred.Free(node->marker);
  node->marker = nullptr;
}

bool ForetoldTree::MakeChildren(const DescribedBatch& batch, Node*& children) {
  children = nullptr;
  Node* last = nullptr;
  const DescribedEntry* entries = batch.Entries();
  for (std::uint32_t i = 0; i < batch.count; ++i) {
    const DescribedEntry& entry = entries[i];
    if (entry.look != Look::kDescribed) continue;
    const char* name = batch.NameOf(entry);
    WIN32_FIND_DATAA record;
    record.dwFileAttributes = entry.attributes;
    record.dwReserved0 = entry.reparseTag;
    record.dwReserved1 = entry.reserved;
    if (!IsEnteredDirectory(record, name)) continue;
    Node* child = NewNode(name, entry.nameLength);
    if (child == nullptr) {
      Deferred freed;
      FreeChildren(children, freed);
      children = nullptr;
      return false;
    }
    child->device = entry.device;
    child->inode = entry.inode;
    child->refusal = AttributesUnreadable(record);
    child->mountRoot = entry.mountRoot;
    child->changed = entry.changed;
    (last != nullptr ? last->next : children) = child;
    last = child;
  }
  return true;
}

void ForetoldTree::FreeChildren(Node* children, Deferred& deferred) {
  while (children != nullptr) {
    Node* next = children->next;
    deferred.Free(children);
    children = next;
  }
}

bool ForetoldTree::Publish(Node* node, DescribedBatch* batch, Node* children, Deferred& deferred) {
  batch->next = nullptr;
  (node->lastBatch != nullptr ? node->lastBatch->next : node->firstBatch) = batch;
  node->lastBatch = batch;
  ++node->batchCount;
  heldBytes += batch->bytes;
  if (!(node->predicts && node->marker != nullptr)) {
    FreeChildren(children, deferred);
    return false;
  }
  bool any = false;
  while (children != nullptr) {
    Node* child = children;
    children = children->next;
    child->parent = node;
    child->holdsParent = true;
    child->pattern = node->pattern;
    child->references = 1;  // the list's
    ++node->pattern->references;
    ++node->references;
    if (child->refusal != 0) {
      // Never opened: the walk that asks for it gets its listing's refusal.
      child->state = State::kEnded;
      child->endError = child->refusal;
      ++startedAhead;  // as one ended ahead is, until taken or dropped
    } else {
      child->countedByParent = true;
      ++node->unopenedChildren;
    }
    LinkBefore(child, node->marker);
    any = true;
  }
  return any;
}

DescribedBatch* ForetoldTree::TakeBatch(Node* node) {
  DescribedBatch* batch = node->firstBatch;
  if (batch == nullptr) return nullptr;
  node->firstBatch = batch->next;
  if (node->firstBatch == nullptr) node->lastBatch = nullptr;
  --node->batchCount;
  return batch;
}

void ForetoldTree::LetGoOfBatch(DescribedBatch* batch, Deferred& deferred) {
  heldBytes -= batch->bytes;
  batch->next = nullptr;
  deferred.FreeBatches(batch);
}

// ---- Letting go -------------------------------------------------------------------

// Closes the descriptor of a directory read to its end once no child needs it.
void ForetoldTree::CloseIfDone(Node* node, Deferred& deferred) {
  if (node->state == State::kEnded && node->unopenedChildren == 0 && node->fd >= 0) {
    deferred.Close(node->fd);
    node->fd = -1;
    --heldDescriptors;
  }
}

void ForetoldTree::End(Node* node, DWORD error, Deferred& deferred) {
  node->state = State::kEnded;
  node->endError = error;
  DropMarker(node, deferred);
  CloseIfDone(node, deferred);
}

void ForetoldTree::StopCountingInParent(Node* child, Deferred& deferred) {
  if (!child->countedByParent) return;
  child->countedByParent = false;
  --child->parent->unopenedChildren;
  CloseIfDone(child->parent, deferred);
}

// A child holds its parent while it may be foretold (in the list) and while
// it may still be opened relative to the parent's descriptor.
void ForetoldTree::LetGoOfParentIfDone(Node* child, Deferred& deferred) {
  if (child->holdsParent && !child->countedByParent && !child->foretold) {
    child->holdsParent = false;
    Release(child->parent, deferred);
  }
}

void ForetoldTree::Release(Node* node, Deferred& deferred) {
  while (node != nullptr && --node->references == 0) {
    StopCountingInParent(node, deferred);
    DropMarker(node, deferred);
    if (node->fd >= 0) --heldDescriptors;  // closed with the node
    for (DescribedBatch* batch = node->firstBatch; batch != nullptr; batch = batch->next) {
      heldBytes -= batch->bytes;
    }
    if (node->pattern != nullptr && --node->pattern->references == 0) delete node->pattern;
    Node* parent = node->holdsParent ? node->parent : nullptr;
    deferred.Free(node);
    node = parent;
  }
}

void ForetoldTree::FinishSearch(Node* node, Deferred& deferred) {
  UnlinkSearched(node);
  Release(node, deferred);
}

// Forgets the first directory foretold, or the first marker.
void ForetoldTree::DropHead(Deferred& deferred) {
  Node* node = head;
  if (node->isMarker) {
    node->parent->marker = nullptr;
    node->parent->predicts = false;
    Unlink(node);
    deferred.Free(node);
    return;
  }
  Unlink(node);
  if (node->IsStarted()) --startedAhead;
  node->predicts = false;
  Release(node, deferred);
}

void ForetoldTree::DropPredictions(Deferred& deferred) {
  while (head != nullptr) DropHead(deferred);
  for (Node* node = searching; node != nullptr; node = node->searchNext) {
    node->predicts = false;
    node->detached = true;
  }
  engaged = false;
}

// What it foretold lies at the head of the list, up to its marker.
void ForetoldTree::ForgetWhatWasRead(Node* node, Deferred& deferred) {
  while (node->marker != nullptr) DropHead(deferred);
  if (node->fd >= 0) {
    deferred.Close(node->fd);
    node->fd = -1;
    --heldDescriptors;
  }
  for (DescribedBatch* batch = node->firstBatch; batch != nullptr; batch = batch->next) {
    heldBytes -= batch->bytes;
  }
  deferred.FreeBatches(node->firstBatch);
  node->firstBatch = node->lastBatch = nullptr;
  node->batchCount = 0;
  node->state = State::kUnstarted;
  node->openedAt = 0;
  node->resumeOffset = 0;
  node->walkReadsOnly = false;
  node->walkReadsInLine = false;
  node->predicts = false;
}

}  // namespace read_ahead
