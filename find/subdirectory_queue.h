// First-in, first-out list of subdirectory paths waiting to be searched. Nodes
// come from blocks of ten, one heap allocation per block, kept until Clear.
#pragma once

#include "platform/win32.h"
#include "text/cstring.h"

class SubdirectoryQueue {
 public:
  // Nodes live in their block from its allocation to its release; the path
  // is constructed when the node is handed out and destroyed when it is
  // returned, so a free node holds no string.
  struct Node {
    Node() noexcept {}
    ~Node() {}
    Node(const Node&) = delete;
    Node& operator=(const Node&) = delete;

    Node* next;  // on the free chain: the following free node
    Node* prev;
    union {
      CString path;  // alive only while the node is in the queue
    };
  };

  SubdirectoryQueue() noexcept;
  ~SubdirectoryQueue();
  SubdirectoryQueue(const SubdirectoryQueue&) = delete;
  SubdirectoryQueue& operator=(const SubdirectoryQueue&) = delete;

  // Appends a copy of path that shares its text. Throws HResultException
  // carrying E_OUTOFMEMORY, before anything changes, when a block cannot be had.
  void Append(const CString& path);

  const Node* Head() const noexcept { return head; }
  DWORD GetCount() const noexcept { return count; }

  // Releases every path and every block; the queue is empty afterwards.
  void Clear() noexcept;

 private:
  struct Block;

  // Chains the nodes of one more block onto freeNodes; throws as Append says.
  void AddBlock();

  Node* head;
  Node* tail;
  DWORD count;
  Block* blocks;  // the newest block; each links to the one allocated before it
  Node* freeNodes;
  DWORD blockSize;
};
