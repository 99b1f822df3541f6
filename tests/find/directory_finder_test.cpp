#include "find/directory_finder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "find/hresult_exception.h"
#include "tests/find/recording_sink.h"
#include "tests/support/failing_allocator.h"
#include "tests/support/fake_find.h"

namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

std::string Event(const char* kind, const std::string& text) {
  return std::string(kind) + " " + text;
}

// The directory ".": a file a, a subdirectory S holding a file d and a
// subdirectory X holding a file e, a file b, and an empty subdirectory T.
void AddTree(FakeFind& fake) {
  fake.AddDirectory(".", {FakeDirectory("."), FakeDirectory(".."), FakeFile("a"),
                          FakeDirectory("S"), FakeFile("b"), FakeDirectory("T")});
  fake.AddDirectory(PlatformPath({".", "S"}),
                    {FakeDirectory("."), FakeDirectory(".."), FakeFile("d"), FakeDirectory("X")});
  fake.AddDirectory(PlatformPath({".", "S", "X"}),
                    {FakeDirectory("."), FakeDirectory(".."), FakeFile("e")});
  fake.AddDirectory(PlatformPath({".", "T"}), {FakeDirectory("."), FakeDirectory("..")});
}

const std::string kS = PlatformPath({".", "S"});
const std::string kX = PlatformPath({".", "S", "X"});
const std::string kT = PlatformPath({".", "T"});

class DirectoryFinderTest : public ::testing::Test {
 protected:
  // A top-level finder over "." with the sink attached.
  bool Search(int mode, const char* pattern = "*.*") {
    DirectoryFinder finder(".", pattern);
    finder.SetRecursionMode(mode);
    finder.SetSink(&sink);
    return finder.Run();
  }

  FakeFind fake;
  RecordingSink sink;
};

struct SequenceCase {
  const char* name;
  int mode;
  std::vector<std::string> events;
};

TEST_F(DirectoryFinderTest, EachModeNotifiesInItsOwnOrder) {
  AddTree(fake);
  const SequenceCase cases[] = {
      {"QueuedRecursion: files first, then each subdirectory in full",
       QueuedRecursion,
       {"OnFile a", "OnFile b", Event("OnBeforeEnterDirectory", kS), Event("OnEnterDirectory", kS),
        "OnFile d", Event("OnBeforeEnterDirectory", kX), Event("OnEnterDirectory", kX), "OnFile e",
        Event("OnLeaveDirectory", kX), Event("OnLeaveDirectory", kS),
        Event("OnBeforeEnterDirectory", kT), Event("OnEnterDirectory", kT),
        Event("OnLeaveDirectory", kT)}},
      {"ImmediateRecursion: each subdirectory where it is met",
       ImmediateRecursion,
       {"OnFile a", Event("OnBeforeEnterDirectory", kS), Event("OnEnterDirectory", kS), "OnFile d",
        Event("OnBeforeEnterDirectory", kX), Event("OnEnterDirectory", kX), "OnFile e",
        Event("OnLeaveDirectory", kX), Event("OnLeaveDirectory", kS), "OnFile b",
        Event("OnBeforeEnterDirectory", kT), Event("OnEnterDirectory", kT),
        Event("OnLeaveDirectory", kT)}},
      {"NoRecursion: files only", NoRecursion, {"OnFile a", "OnFile b"}},
      {"an unknown mode behaves as NoRecursion", 7, {"OnFile a", "OnFile b"}},
  };
  for (const SequenceCase& c : cases) {
    SCOPED_TRACE(c.name);
    sink.Reset();
    EXPECT_TRUE(Search(c.mode));
    EXPECT_THAT(sink.Events(), ElementsAreArray(c.events));
  }
}

struct StopCase {
  const char* name;
  std::string stopAt;
  std::vector<std::string> events;
};

TEST_F(DirectoryFinderTest, AFalseAnswerEndsTheWholeSearchWithoutLeaveNotifications) {
  AddTree(fake);
  const StopCase cases[] = {
      {"OnFile answers false inside S",
       "OnFile d",
       {"OnFile a", "OnFile b", Event("OnBeforeEnterDirectory", kS), Event("OnEnterDirectory", kS),
        "OnFile d"}},
      {"OnBeforeEnterDirectory answers false for S",
       Event("OnBeforeEnterDirectory", kS),
       {"OnFile a", "OnFile b", Event("OnBeforeEnterDirectory", kS)}},
      {"OnEnterDirectory answers false for S",
       Event("OnEnterDirectory", kS),
       {"OnFile a", "OnFile b", Event("OnBeforeEnterDirectory", kS),
        Event("OnEnterDirectory", kS)}},
      {"OnLeaveDirectory answers false for X",
       Event("OnLeaveDirectory", kX),
       {"OnFile a", "OnFile b", Event("OnBeforeEnterDirectory", kS), Event("OnEnterDirectory", kS),
        "OnFile d", Event("OnBeforeEnterDirectory", kX), Event("OnEnterDirectory", kX), "OnFile e",
        Event("OnLeaveDirectory", kX)}},
  };
  for (const StopCase& c : cases) {
    SCOPED_TRACE(c.name);
    sink.Reset();
    sink.StopAt(c.stopAt);
    const std::size_t callsBefore = fake.Calls().size();
    EXPECT_FALSE(Search(QueuedRecursion));
    EXPECT_THAT(sink.Events(), ElementsAreArray(c.events));
    for (std::size_t i = callsBefore; i < fake.Calls().size(); ++i) {
      EXPECT_STRNE(fake.Calls()[i].specification, PlatformPath({".", "T", "*.*"}).c_str())
          << "T was searched after the stop";
    }
  }
}

TEST_F(DirectoryFinderTest, ABeforeEnterStopCreatesNoChild) {
  AddTree(fake);
  sink.StopAt(Event("OnBeforeEnterDirectory", kS));
  EXPECT_FALSE(Search(QueuedRecursion));
  EXPECT_THAT(fake.Specifications(), ElementsAre(PlatformPath({".", "*.*"})));
}

TEST_F(DirectoryFinderTest, ChildrenSearchTheJoinedPathWithTheParentPattern) {
  AddTree(fake);
  EXPECT_TRUE(Search(QueuedRecursion, "*.x"));
  EXPECT_THAT(fake.Specifications(),
              ElementsAre(PlatformPath({".", "*.x"}), PlatformPath({".", "S", "*.x"}),
                          PlatformPath({".", "S", "X", "*.x"}), PlatformPath({".", "T", "*.x"})));
}

struct SpecificationCase {
  const char* name;
  std::string directory;
  std::string specification;
  std::string subdirectory;
};

TEST_F(DirectoryFinderTest, TheSeparatorIsAddedUnlessTheDirectoryEndsInOne) {
  const std::string sep(1, kPathSeparator);
  const std::string otherSeparator(1, kPathSeparator == '/' ? '\\' : '/');
  const SpecificationCase cases[] = {
      {"current directory", ".", "." + sep + "*.*", "." + sep + "sub"},
      {"drive root", "D:" + sep, "D:" + sep + "*.*", "D:" + sep + "sub"},
      {"bare drive", "D:", "D:" + sep + "*.*", "D:" + sep + "sub"},
      {"empty directory", "", sep + "*.*", sep + "sub"},
      {"only the platform separator counts", "dir" + otherSeparator,
       "dir" + otherSeparator + sep + "*.*", "dir" + otherSeparator + sep + "sub"},
  };
  for (const SpecificationCase& c : cases) {
    SCOPED_TRACE(c.name);
    FakeFind local;
    local.AddDirectory(c.directory, {FakeDirectory("sub")});
    RecordingSink events;
    DirectoryFinder finder(c.directory.c_str(), "*.*");
    finder.SetSink(&events);
    EXPECT_TRUE(finder.Run());
    ASSERT_FALSE(local.Specifications().empty());
    EXPECT_EQ(local.Specifications()[0], c.specification);
    // sub cannot be opened: it is entered and left with nothing in between.
    EXPECT_THAT(events.Events(), ElementsAre(Event("OnBeforeEnterDirectory", c.subdirectory),
                                             Event("OnEnterDirectory", c.subdirectory),
                                             Event("OnLeaveDirectory", c.subdirectory)));
    EXPECT_EQ(std::string(DirectoryFinder::JoinPath(c.directory.c_str(), "sub")), c.subdirectory);
  }
}

TEST_F(DirectoryFinderTest, DotEntriesReachTheSinkOnlyAsTheFoundItem) {
  fake.AddDirectory(".", {FakeDirectory("."), FakeDirectory(".."), FakeFile("f")});
  EXPECT_TRUE(Search(QueuedRecursion));
  EXPECT_THAT(sink.AllEvents(),
              ElementsAre("SetFoundItem .", "SetFoundItem ..", "SetFoundItem f", "OnFile f"));
}

TEST_F(DirectoryFinderTest, NoRecursionShowsEveryEntryAndEntersNothing) {
  AddTree(fake);
  EXPECT_TRUE(Search(NoRecursion));
  EXPECT_THAT(sink.AllEvents(),
              ElementsAre("SetFoundItem .", "SetFoundItem ..", "SetFoundItem a", "OnFile a",
                          "SetFoundItem S", "SetFoundItem b", "OnFile b", "SetFoundItem T"));
  EXPECT_THAT(fake.Specifications(), ElementsAre(PlatformPath({".", "*.*"})));
}

struct SinklessCase {
  const char* name;
  int mode;
  std::vector<std::string> specifications;
};

TEST_F(DirectoryFinderTest, WithoutASinkOnlyImmediateRecursionDescends) {
  AddTree(fake);
  const SinklessCase cases[] = {
      {"QueuedRecursion passes its queue over", QueuedRecursion, {PlatformPath({".", "*.*"})}},
      {"NoRecursion", NoRecursion, {PlatformPath({".", "*.*"})}},
      {"ImmediateRecursion searches each subdirectory",
       ImmediateRecursion,
       {PlatformPath({".", "*.*"}), PlatformPath({".", "S", "*.*"}),
        PlatformPath({".", "S", "X", "*.*"}), PlatformPath({".", "T", "*.*"})}},
  };
  for (const SinklessCase& c : cases) {
    SCOPED_TRACE(c.name);
    FakeFind local;
    AddTree(local);
    DirectoryFinder finder(".", "*.*");
    finder.SetRecursionMode(c.mode);
    EXPECT_TRUE(finder.Run());
    EXPECT_THAT(local.Specifications(), ElementsAreArray(c.specifications));
  }
}

TEST_F(DirectoryFinderTest, ADirectoryThatCannotBeOpenedNotifiesNothing) {
  RecordingSink events;
  DirectoryFinder finder("missing", "*.*");
  finder.SetSink(&events);
  EXPECT_TRUE(finder.Run());
  EXPECT_THAT(events.AllEvents(), IsEmpty());
  EXPECT_FALSE(finder.FindNext());  // the failed search is never handed to the platform
}

TEST_F(DirectoryFinderTest, AFailingListingEndsItsDirectoryAndTheQueueIsStillSearched) {
  AddTree(fake);
  fake.FailFrom(".", 5);  // T is never listed
  EXPECT_TRUE(Search(QueuedRecursion));
  EXPECT_THAT(
      sink.Events(),
      ElementsAre("OnFile a", "OnFile b", Event("OnBeforeEnterDirectory", kS),
                  Event("OnEnterDirectory", kS), "OnFile d", Event("OnBeforeEnterDirectory", kX),
                  Event("OnEnterDirectory", kX), "OnFile e", Event("OnLeaveDirectory", kX),
                  Event("OnLeaveDirectory", kS)));
}

// A finder whose children set their own mode and sink, which the parent must override.
class WilfulChildFinder : public DirectoryFinder {
 public:
  WilfulChildFinder(const char* directoryText, const char* patternText, FinderSink* stray)
      : DirectoryFinder(directoryText, patternText), straySink(stray) {}

  DirectoryFinder* CreateChild(const char* childDirectory, const char* childPattern) override {
    auto* child = new WilfulChildFinder(childDirectory, childPattern, straySink);
    child->SetRecursionMode(NoRecursion);
    child->SetSink(straySink);
    return child;
  }

 private:
  FinderSink* straySink;
};

// "." holds S; S holds the subdirectory X before the file f; X holds e. Only
// S's own mode decides whether X comes before f, after it, or not at all.
void AddModeTree(FakeFind& fake) {
  fake.AddDirectory(".", {FakeDirectory("S")});
  fake.AddDirectory(kS, {FakeDirectory("X"), FakeFile("f")});
  fake.AddDirectory(kX, {FakeFile("e")});
}

TEST_F(DirectoryFinderTest, AChildTakesItsParentsModeAndSinkWhateverItWasBuiltWith) {
  AddModeTree(fake);
  const std::vector<std::string> immediate = {Event("OnBeforeEnterDirectory", kS),
                                              Event("OnEnterDirectory", kS),
                                              Event("OnBeforeEnterDirectory", kX),
                                              Event("OnEnterDirectory", kX),
                                              "OnFile e",
                                              Event("OnLeaveDirectory", kX),
                                              "OnFile f",
                                              Event("OnLeaveDirectory", kS)};
  const std::vector<std::string> queued = {
      Event("OnBeforeEnterDirectory", kS), Event("OnEnterDirectory", kS), "OnFile f",
      Event("OnBeforeEnterDirectory", kX), Event("OnEnterDirectory", kX), "OnFile e",
      Event("OnLeaveDirectory", kX),       Event("OnLeaveDirectory", kS)};
  for (const int mode : {ImmediateRecursion, QueuedRecursion}) {
    SCOPED_TRACE(mode == ImmediateRecursion ? "ImmediateRecursion" : "QueuedRecursion");
    RecordingSink events;
    RecordingSink stray;
    WilfulChildFinder finder(".", "*.*", &stray);
    finder.SetRecursionMode(mode);
    finder.SetSink(&events);
    EXPECT_TRUE(finder.Run());
    EXPECT_THAT(events.Events(), ElementsAreArray(mode == ImmediateRecursion ? immediate : queued));
    EXPECT_THAT(stray.AllEvents(), IsEmpty());
  }
}

TEST_F(DirectoryFinderTest, LinksAndMountPointsAreNotDescendedOtherReparsePointsAre) {
  const DWORD kCloudTag = 0x9000001AU;  // a placeholder that holds its data: no name surrogate
  for (const int mode : {ImmediateRecursion, QueuedRecursion}) {
    SCOPED_TRACE(mode == ImmediateRecursion ? "ImmediateRecursion" : "QueuedRecursion");
    FakeFind local;
    local.AddDirectory(
        ".", {FakeReparseDirectory("link", IO_REPARSE_TAG_SYMLINK),
              FakeReparseDirectory("mount", IO_REPARSE_TAG_MOUNT_POINT),
              FakeReparseDirectory("cloud", kCloudTag),
              FakeFile("filelink", FILE_ATTRIBUTE_REPARSE_POINT), FakeDirectory("plain")});
    sink.Reset();
    EXPECT_TRUE(Search(mode));
    const std::string cloud = PlatformPath({".", "cloud"});
    const std::string plain = PlatformPath({".", "plain"});
    std::vector<std::string> expected = {
        Event("OnBeforeEnterDirectory", cloud), Event("OnEnterDirectory", cloud),
        Event("OnLeaveDirectory", cloud),       Event("OnBeforeEnterDirectory", plain),
        Event("OnEnterDirectory", plain),       Event("OnLeaveDirectory", plain)};
    expected.insert(mode == ImmediateRecursion ? expected.begin() + 3 : expected.begin(),
                    "OnFile filelink");
    EXPECT_THAT(sink.Events(), ElementsAreArray(expected));
    EXPECT_THAT(local.Specifications(),
                ElementsAre(PlatformPath({".", "*.*"}), PlatformPath({".", "cloud", "*.*"}),
                            PlatformPath({".", "plain", "*.*"})));
  }
}

TEST_F(DirectoryFinderTest, EachSearchIsClosedWhenItsListingEndsSoQueuedModeHoldsOneOpen) {
  AddTree(fake);
  EXPECT_TRUE(Search(QueuedRecursion));
  EXPECT_EQ(fake.MostOpenHandles(), 1);
  EXPECT_EQ(fake.OpenHandles(), 0);
  // Every FALSE from FindNextFileA is followed at once by FindClose of that handle.
  const std::vector<FakeCall>& calls = fake.Calls();
  int ends = 0;
  for (std::size_t i = 0; i < calls.size(); ++i) {
    if (calls[i].kind != FakeCall::kFindNext || calls[i].result) continue;
    ++ends;
    ASSERT_LT(i + 1, calls.size());
    EXPECT_EQ(calls[i + 1].kind, FakeCall::kFindClose);
    EXPECT_EQ(calls[i + 1].handle, calls[i].handle);
  }
  EXPECT_EQ(ends, 4);
}

TEST_F(DirectoryFinderTest, AFinderStoppedMidListingClosesItsSearchWhenDestroyed) {
  AddTree(fake);
  sink.StopAt("OnFile a");
  {
    DirectoryFinder finder(".", "*.*");
    finder.SetSink(&sink);
    EXPECT_FALSE(finder.Run());
    EXPECT_EQ(fake.OpenHandles(), 1);
  }
  EXPECT_EQ(fake.OpenHandles(), 0);
}

TEST_F(DirectoryFinderTest, FindNextAfterTheEndAsksThePlatformNothing) {
  fake.AddDirectory(".", {FakeFile("f")});
  DirectoryFinder finder(".", "*.*");
  ASSERT_TRUE(finder.FindFirst());
  EXPECT_FALSE(finder.FindNext());
  const std::size_t calls = fake.Calls().size();
  EXPECT_FALSE(finder.FindNext());
  EXPECT_EQ(fake.Calls().size(), calls);
}

TEST_F(DirectoryFinderTest, FilesCostNoAllocationWhateverTheirNumber) {
  long long allocations[2] = {};
  for (const int files : {3, 60}) {
    FakeFind local;
    std::vector<FakeEntry> entries;
    for (int i = 0; i < files; ++i) entries.push_back(FakeFile(("f" + std::to_string(i)).c_str()));
    local.AddDirectory(".", entries);
    sink.Reset();
    DirectoryFinder finder(".", "*.*");
    finder.SetSink(&sink);
    failing_allocator::Scope counter;
    EXPECT_TRUE(finder.Run());
    allocations[files == 3 ? 0 : 1] = counter.Allocations();
  }
  EXPECT_EQ(allocations[0], allocations[1]);
}

TEST_F(DirectoryFinderTest, ElevenQueuedSubdirectoriesTakeTwoNodeBlocks) {
  // Without a sink the queue is filled but never searched: what is left to
  // allocate is the specification, one path per subdirectory and the blocks.
  long long allocations[12] = {};
  for (const int subdirectories : {9, 10, 11}) {
    FakeFind local;
    std::vector<FakeEntry> entries;
    for (int i = 0; i < subdirectories; ++i) {
      entries.push_back(FakeDirectory(("s" + std::to_string(i)).c_str()));
    }
    local.AddDirectory(".", entries);
    DirectoryFinder finder(".", "*.*");
    failing_allocator::Scope counter;
    EXPECT_TRUE(finder.Run());
    allocations[subdirectories] = counter.Allocations();
  }
  EXPECT_EQ(allocations[10] - allocations[9], 1) << "the tenth path fits the first block";
  EXPECT_EQ(allocations[11] - allocations[10], 2) << "the eleventh path takes a second block";
}

// A finder whose children can never be had.
class ChildlessFinder : public DirectoryFinder {
 public:
  using DirectoryFinder::DirectoryFinder;
  DirectoryFinder* CreateChild(const char*, const char*) override { return nullptr; }
};

TEST_F(DirectoryFinderTest, AChildThatCannotBeAllocatedRaisesOutOfMemory) {
  AddTree(fake);
  for (const int mode : {ImmediateRecursion, QueuedRecursion}) {
    SCOPED_TRACE(mode == ImmediateRecursion ? "ImmediateRecursion" : "QueuedRecursion");
    ChildlessFinder finder(".", "*.*");
    finder.SetRecursionMode(mode);
    finder.SetSink(&sink);
    try {
      finder.Run();
      ADD_FAILURE() << "the search went on without its child";
    } catch (const HResultException& e) {
      EXPECT_EQ(e.GetResult(), E_OUTOFMEMORY);
    }
  }
}

// Fails each allocation of a whole search in turn. Every failure must end the
// search with E_OUTOFMEMORY, having searched and notified only what the
// search without failures does, in the same order: never a wrong directory.
TEST_F(DirectoryFinderTest, EveryAllocationFailureRaisesOutOfMemoryAndNeverMisleadsTheSearch) {
  for (const int mode : {ImmediateRecursion, QueuedRecursion}) {
    SCOPED_TRACE(mode == ImmediateRecursion ? "ImmediateRecursion" : "QueuedRecursion");
    std::vector<std::string> fullEvents;
    std::vector<std::string> fullSpecifications;
    {
      FakeFind local;
      AddTree(local);
      sink.Reset();
      EXPECT_TRUE(Search(mode));
      fullEvents = sink.AllEvents();
      fullSpecifications = local.Specifications();
    }
    int failingRuns = 0;
    for (std::int64_t failing = 0;; ++failing) {
      FakeFind local;
      AddTree(local);
      sink.Reset();
      bool raised = false;
      bool failed = false;
      {
        failing_allocator::Scope scope(failing, 1);
        try {
          DirectoryFinder finder(".", "*.*");
          finder.SetRecursionMode(mode);
          finder.SetSink(&sink);
          finder.Run();
        } catch (const HResultException& e) {
          raised = e.GetResult() == E_OUTOFMEMORY;
        }
        failed = scope.Failures() > 0;
      }
      if (!failed) break;
      ++failingRuns;
      SCOPED_TRACE("allocation " + std::to_string(failing) + " failing");
      EXPECT_TRUE(raised);
      const std::vector<std::string> events = sink.AllEvents();
      const std::vector<std::string> specifications = local.Specifications();
      ASSERT_LE(events.size(), fullEvents.size());
      EXPECT_TRUE(std::equal(events.begin(), events.end(), fullEvents.begin()));
      ASSERT_LE(specifications.size(), fullSpecifications.size());
      EXPECT_TRUE(
          std::equal(specifications.begin(), specifications.end(), fullSpecifications.begin()));
    }
    EXPECT_GE(failingRuns, 8);  // the finders, their texts, the paths and the blocks
  }
}

}  // namespace
