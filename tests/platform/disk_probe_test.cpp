// When the walk is taken to read from the disk, by a block counter the test sets.
#include "platform/posix/disk_probe.h"

#include <gtest/gtest.h>

namespace {

class FakeBlocks final : public BlockCounter {
 public:
  long BlocksRead() const override { return blocks; }
  long blocks = 0;
};

TEST(DiskProbeTest, LooksOnceEveryThirtyTwoDirectories) {
  FakeBlocks blocks;
  DiskProbe probe(blocks);
  probe.Start();
  std::vector<unsigned> due;
  for (unsigned directory = 1; directory <= 100; ++directory) {
    if (probe.LookDue()) due.push_back(directory);
  }
  EXPECT_EQ(due, (std::vector<unsigned>{32, 64, 96}));
  probe.Start();  // a new walk counts afresh
  for (unsigned directory = 1; directory < 32; ++directory) EXPECT_FALSE(probe.LookDue());
  EXPECT_TRUE(probe.LookDue());
}

// Blocks read before the walk began are not its own; a page or two of the
// program's own are not the disk.
TEST(DiskProbeTest, ReadsFromTheDiskOnlyPastAFewPagesReadSinceTheStart) {
  const struct {
    long atStart;
    long now;
    bool reads;
  } rows[] = {
      {0, 0, false},       {0, 256, false},    {0, 257, true},
      {5000, 5256, false}, {5000, 5257, true}, {5000, 100, false},
  };
  for (const auto& row : rows) {
    FakeBlocks blocks;
    blocks.blocks = row.atStart;
    DiskProbe probe(blocks);
    probe.Start();
    blocks.blocks = row.now;
    EXPECT_EQ(probe.ReadsFromDisk(), row.reads) << row.atStart << " then " << row.now;
  }
}

}  // namespace
