#include "find/subdirectory_queue.h"

#include <cstddef>
#include <new>

#include "find/hresult_exception.h"

// A block is one heap allocation: this link, then blockSize nodes.
struct SubdirectoryQueue::Block {
  Block* previous;
};

namespace {
constexpr DWORD kNodesPerBlock = 10;
}  // namespace

SubdirectoryQueue::SubdirectoryQueue() noexcept
    : head(nullptr),
      tail(nullptr),
      count(0),
      blocks(nullptr),
      freeNodes(nullptr),
      blockSize(kNodesPerBlock) {}

SubdirectoryQueue::~SubdirectoryQueue() { Clear(); }

void SubdirectoryQueue::AddBlock() {
  static_assert(sizeof(Block) % alignof(Node) == 0, "nodes must follow the link aligned");
  void* raw = ::operator new(sizeof(Block) + blockSize * sizeof(Node), std::nothrow);
  if (raw == nullptr) ThrowHResultException(E_OUTOFMEMORY);
  Block* block = new (raw) Block{blocks};
  blocks = block;
  // Chained from the last node back, so that the first node is handed out first.
  unsigned char* storage = static_cast<unsigned char*>(raw) + sizeof(Block);
  for (DWORD index = blockSize; index-- > 0;) {
    Node* node = new (storage + index * sizeof(Node)) Node;
    node->prev = nullptr;
    node->next = freeNodes;
    freeNodes = node;
  }
}

void SubdirectoryQueue::Append(const CString& path) {
  if (freeNodes == nullptr) AddBlock();
  Node* node = freeNodes;
  freeNodes = node->next;
  new (&node->path) CString(path);
  node->next = nullptr;
  node->prev = tail;
  if (tail != nullptr) {
    tail->next = node;
  } else {
    head = node;
  }
  tail = node;
  ++count;
}

void SubdirectoryQueue::Clear() noexcept {
  for (Node* node = head; node != nullptr; node = node->next) node->path.~CString();
  head = nullptr;
  tail = nullptr;
  freeNodes = nullptr;
  count = 0;
  while (blocks != nullptr) {
    Block* previous = blocks->previous;
    ::operator delete(blocks);
    blocks = previous;
  }
}
