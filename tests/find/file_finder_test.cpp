#include "find/file_finder.h"

#include <gtest/gtest.h>

namespace {

// A finder over a scripted directory that counts how Run drives it.
class ScriptedFinder : public FileFinder {
 public:
  ScriptedFinder(bool canOpen, int entryCount, int stopAt, bool queueResult)
      : opens(canOpen), entries(entryCount), stopAtEntry(stopAt), queueAnswer(queueResult) {}

  void SetRecursionMode(int) override {}
  bool FindFirst() override { return opens && entries > 0; }
  bool FindNext() override {
    ++findNextCalls;
    return findNextCalls < entries;
  }
  bool ProcessCurrent() override { return ++processCalls != stopAtEntry; }
  bool ProcessQueue() override {
    ++queueCalls;
    return queueAnswer;
  }

  int findNextCalls = 0;
  int processCalls = 0;
  int queueCalls = 0;

 private:
  bool opens;
  int entries;
  int stopAtEntry;  // 1-based; 0 never stops
  bool queueAnswer;
};

struct RunCase {
  const char* name;
  bool opens;
  int entries;
  int stopAtEntry;
  bool queueAnswer;
  bool expectedResult;
  int expectedProcessCalls;
  int expectedFindNextCalls;
  int expectedQueueCalls;
};

TEST(FileFinderTest, RunDrivesTheStepsAndPassesAStopUpward) {
  const RunCase cases[] = {
      {"directory that cannot be opened counts as empty", false, 3, 0, false, true, 0, 0, 0},
      {"stop at the third entry skips the queue", true, 5, 3, false, false, 3, 2, 0},
      {"every entry handled, queue answers true", true, 4, 0, true, true, 4, 4, 1},
      {"every entry handled, queue answers false", true, 4, 0, false, false, 4, 4, 1},
      {"a single entry", true, 1, 0, true, true, 1, 1, 1},
  };
  for (const RunCase& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedFinder finder(c.opens, c.entries, c.stopAtEntry, c.queueAnswer);
    EXPECT_EQ(finder.Run(), c.expectedResult);
    EXPECT_EQ(finder.processCalls, c.expectedProcessCalls);
    EXPECT_EQ(finder.findNextCalls, c.expectedFindNextCalls);
    EXPECT_EQ(finder.queueCalls, c.expectedQueueCalls);
  }
}

}  // namespace
