// Whether the walk reads from the disk: a walk that does waits on it, and
// more threads then keep more reads in flight, while a warm cache reads
// nothing and keeps one thread a core. Told from the blocks the process has
// read since the walk began, asked once every so many directories.
#pragma once

// Blocks (of 512 bytes) read from the disk so far. An interface, so that a
// test can say what the disk did.
class BlockCounter {
 public:
  virtual ~BlockCounter() = default;
  virtual long BlocksRead() const = 0;
};

// The process's own count, its threads' included.
const BlockCounter& ProcessBlockCounter();

class DiskProbe {
 public:
  // Asked once every so many directories; more than this many blocks since
  // the start say that the walk reads from the disk, rather than a page or
  // two of the program's own.
  static constexpr unsigned kDirectoriesPerLook = 32;
  static constexpr long kDiskBlocks = 256;

  explicit DiskProbe(const BlockCounter& blocks) : counter(&blocks) {}

  // The walk begins: blocks read before it are not its own.
  void Start() {
    blocksAtStart = counter->BlocksRead();
    directories = 0;
  }
  // Counts a directory the walk asks for; answers whether it is time to look.
  bool LookDue() {
    if (++directories < kDirectoriesPerLook) return false;
    directories = 0;
    return true;
  }
  // Whether the walk has read from the disk since it began. Reads only what
  // Start fixed, so it may be asked without the lock LookDue is called under.
  bool ReadsFromDisk() const { return counter->BlocksRead() - blocksAtStart > kDiskBlocks; }

 private:
  const BlockCounter* counter;
  long blocksAtStart = 0;
  unsigned directories = 0;
};
