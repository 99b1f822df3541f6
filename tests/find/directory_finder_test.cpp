#include "find/directory_finder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/find/recording_sink.h"
#include "tests/support/fake_find.h"
#include "tests/support/out_of_memory.h"

namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

const std::string kS = PlatformPath({".", "S"});
const std::string kX = PlatformPath({".", "S", "X"});
const std::string kT = PlatformPath({".", "T"});
const std::string kTop = PlatformPath({".", "*.*"});

std::string Before(const std::string& path) { return "OnBeforeEnterDirectory " + path; }
std::string Enter(const std::string& path) { return "OnEnterDirectory " + path; }
std::string Leave(const std::string& path) { return "OnLeaveDirectory " + path; }

// ".": file a, subdirectory S (file d, subdirectory X holding e), file b,
// empty subdirectory T.
void AddTree(FakeFind& fake) {
  fake.AddDirectory(".", {FakeDirectory("."), FakeDirectory(".."), FakeFile("a"),
                          FakeDirectory("S"), FakeFile("b"), FakeDirectory("T")});
  fake.AddDirectory(kS,
                    {FakeDirectory("."), FakeDirectory(".."), FakeFile("d"), FakeDirectory("X")});
  fake.AddDirectory(kX, {FakeFile("e")});
  fake.AddDirectory(kT, {FakeDirectory("."), FakeDirectory("..")});
}

class DirectoryFinderTest : public ::testing::Test {
 protected:
  bool Search(int mode, const char* pattern = "*.*") {
    DirectoryFinder finder(".", pattern);
    finder.SetRecursionMode(mode);
    finder.SetSink(&sink);
    return finder.Run();
  }

  FakeFind fake;
  RecordingSink sink;
};

TEST_F(DirectoryFinderTest, EachModeNotifiesInItsOwnOrder) {
  AddTree(fake);
  const struct {
    const char* name;
    int mode;
    std::vector<std::string> events;
  } cases[] = {
      {"QueuedRecursion: files first, then each subdirectory in full",
       QueuedRecursion,
       {"OnFile a", "OnFile b", Before(kS), Enter(kS), "OnFile d", Before(kX), Enter(kX),
        "OnFile e", Leave(kX), Leave(kS), Before(kT), Enter(kT), Leave(kT)}},
      {"ImmediateRecursion: each subdirectory where it is met",
       ImmediateRecursion,
       {"OnFile a", Before(kS), Enter(kS), "OnFile d", Before(kX), Enter(kX), "OnFile e", Leave(kX),
        Leave(kS), "OnFile b", Before(kT), Enter(kT), Leave(kT)}},
      {"NoRecursion: files only", NoRecursion, {"OnFile a", "OnFile b"}},
      {"an unknown mode behaves as NoRecursion", 7, {"OnFile a", "OnFile b"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    sink.Reset();
    EXPECT_TRUE(Search(c.mode));
    EXPECT_THAT(sink.Events(), ElementsAreArray(c.events));
  }
}

TEST_F(DirectoryFinderTest, AFalseAnswerEndsTheWholeSearchWithoutLeaveNotifications) {
  const struct {
    std::string stopAt;
    std::vector<std::string> events;
    std::vector<std::string> specifications;
  } cases[] = {
      {"OnFile d",
       {"OnFile a", "OnFile b", Before(kS), Enter(kS), "OnFile d"},
       {kTop, PlatformPath({".", "S", "*.*"})}},
      {Before(kS), {"OnFile a", "OnFile b", Before(kS)}, {kTop}},  // no child for S
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.stopAt);
    FakeFind local;
    AddTree(local);
    sink.Reset();
    sink.StopAt(c.stopAt);
    EXPECT_FALSE(Search(QueuedRecursion));
    EXPECT_THAT(sink.Events(), ElementsAreArray(c.events));
    EXPECT_THAT(local.Specifications(), ElementsAreArray(c.specifications));
  }
}

TEST_F(DirectoryFinderTest, ChildrenSearchTheJoinedPathWithTheParentPattern) {
  AddTree(fake);
  EXPECT_TRUE(Search(QueuedRecursion, "*.x"));
  EXPECT_THAT(fake.Specifications(),
              ElementsAre(PlatformPath({".", "*.x"}), PlatformPath({".", "S", "*.x"}),
                          PlatformPath({".", "S", "X", "*.x"}), PlatformPath({".", "T", "*.x"})));
}

TEST_F(DirectoryFinderTest, TheSeparatorIsAddedUnlessTheDirectoryEndsInOne) {
  const std::string sep(1, kPathSeparator);
  const std::string other(1, kPathSeparator == '/' ? '\\' : '/');
  const struct {
    const char* name;
    std::string directory;
    std::string specification;
    std::string subdirectory;
  } cases[] = {
      {"current directory", ".", "." + sep + "*.*", "." + sep + "sub"},
      {"root of a drive", "D:" + sep, "D:" + sep + "*.*", "D:" + sep + "sub"},
      {"bare drive", "D:", "D:" + sep + "*.*", "D:" + sep + "sub"},
      {"empty directory", "", sep + "*.*", sep + "sub"},
      {"only the platform separator counts", "d" + other, "d" + other + sep + "*.*",
       "d" + other + sep + "sub"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeFind local;
    local.AddDirectory(c.directory, {FakeDirectory("sub")});
    RecordingSink events;
    DirectoryFinder finder(c.directory.c_str(), "*.*");
    finder.SetSink(&events);
    EXPECT_TRUE(finder.Run());
    EXPECT_THAT(local.Specifications(), ElementsAre(c.specification, c.subdirectory + sep + "*.*"));
    // sub cannot be opened: entered and left with nothing in between.
    EXPECT_THAT(events.Events(),
                ElementsAre(Before(c.subdirectory), Enter(c.subdirectory), Leave(c.subdirectory)));
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
  EXPECT_THAT(fake.Specifications(), ElementsAre(kTop));
}

TEST_F(DirectoryFinderTest, WithoutASinkOnlyImmediateRecursionDescends) {
  for (const int mode : {QueuedRecursion, NoRecursion, ImmediateRecursion}) {
    SCOPED_TRACE(mode);
    FakeFind local;
    AddTree(local);
    DirectoryFinder finder(".", "*.*");
    finder.SetRecursionMode(mode);
    EXPECT_TRUE(finder.Run());
    EXPECT_EQ(local.Specifications().size(), mode == ImmediateRecursion ? 4u : 1u);
  }
}

TEST_F(DirectoryFinderTest, ADirectoryThatCannotBeOpenedNotifiesNothing) {
  DirectoryFinder finder("missing", "*.*");
  finder.SetSink(&sink);
  EXPECT_TRUE(finder.Run());
  EXPECT_THAT(sink.AllEvents(), IsEmpty());
}

// Its children set their own mode and sink, which the parent must override.
class WilfulChildFinder : public DirectoryFinder {
 public:
  WilfulChildFinder(const char* directoryText, FinderSink* stray)
      : DirectoryFinder(directoryText, "*.*"), straySink(stray) {}
  DirectoryFinder* CreateChild(const char* childDirectory, const char*) override {
    auto* child = new WilfulChildFinder(childDirectory, straySink);
    child->SetRecursionMode(NoRecursion);
    child->SetSink(straySink);
    return child;
  }

 private:
  FinderSink* straySink;
};

TEST_F(DirectoryFinderTest, AChildTakesItsParentsModeAndSinkWhateverItWasBuiltWith) {
  // S lists X before f: only S's own mode decides whether X comes first, last or never.
  fake.AddDirectory(".", {FakeDirectory("S")});
  fake.AddDirectory(kS, {FakeDirectory("X"), FakeFile("f")});
  fake.AddDirectory(kX, {FakeFile("e")});
  for (const int mode : {ImmediateRecursion, QueuedRecursion}) {
    SCOPED_TRACE(mode);
    RecordingSink events;
    RecordingSink stray;
    WilfulChildFinder finder(".", &stray);
    finder.SetRecursionMode(mode);
    finder.SetSink(&events);
    EXPECT_TRUE(finder.Run());
    const std::vector<std::string> x = {Before(kX), Enter(kX), "OnFile e", Leave(kX)};
    std::vector<std::string> expected = {Before(kS), Enter(kS), "OnFile f", Leave(kS)};
    expected.insert(expected.begin() + (mode == ImmediateRecursion ? 2 : 3), x.begin(), x.end());
    EXPECT_THAT(events.Events(), ElementsAreArray(expected));
    EXPECT_THAT(stray.AllEvents(), IsEmpty());
  }
}

TEST_F(DirectoryFinderTest, LinksAndMountPointsAreNotDescendedOtherReparsePointsAre) {
  const DWORD kCloudTag = 0x9000001AU;  // a placeholder holding its own data: no name surrogate
  fake.AddDirectory(".", {FakeReparseDirectory("link", IO_REPARSE_TAG_SYMLINK),
                          FakeReparseDirectory("mount", IO_REPARSE_TAG_MOUNT_POINT),
                          FakeReparseDirectory("cloud", kCloudTag),
                          FakeFile("filelink", FILE_ATTRIBUTE_REPARSE_POINT)});
  EXPECT_TRUE(Search(QueuedRecursion));
  const std::string cloud = PlatformPath({".", "cloud"});
  EXPECT_THAT(sink.Events(),
              ElementsAre("OnFile filelink", Before(cloud), Enter(cloud), Leave(cloud)));
  EXPECT_THAT(fake.Specifications(), ElementsAre(kTop, PlatformPath({".", "cloud", "*.*"})));
}

// A name the record cannot hold arrives cut, without its terminator; the
// record's bytes after it are still zero from before, and the cut name is
// that of another directory. Neither is ever shown, joined or searched.
TEST_F(DirectoryFinderTest, ANameLongerThanTheRecordIsNeitherListedNorSearched) {
  const std::string longFile(MAX_PATH + 40, 'f');
  const std::string longDirectory(MAX_PATH + 40, 'd');
  const std::string cut = PlatformPath({".", longDirectory.substr(0, MAX_PATH - 2).c_str()});
  fake.AddDirectory(".", {FakeFile("before"), FakeFile(longFile.c_str()),
                          FakeDirectory(longDirectory.c_str()), FakeDirectory("S")});
  fake.AddDirectory(cut, {FakeFile("wrong")});
  fake.AddDirectory(kS, {FakeFile("after")});
  for (const int mode : {QueuedRecursion, ImmediateRecursion, NoRecursion}) {
    SCOPED_TRACE(mode);
    sink.Reset();
    EXPECT_TRUE(Search(mode));
    std::vector<std::string> expected = {"SetFoundItem before", "OnFile before", "SetFoundItem S"};
    if (mode != NoRecursion) {
      expected.insert(expected.end(),
                      {Before(kS), Enter(kS), "SetFoundItem after", "OnFile after", Leave(kS)});
    }
    EXPECT_THAT(sink.AllEvents(), ElementsAreArray(expected));
  }
  for (const std::string& specification : fake.Specifications()) {
    EXPECT_EQ(specification.find(cut), std::string::npos) << specification;
  }
}

TEST_F(DirectoryFinderTest, EachSearchIsClosedWhenItsListingEndsSoQueuedModeHoldsOneOpen) {
  AddTree(fake);
  EXPECT_TRUE(Search(QueuedRecursion));
  EXPECT_EQ(fake.MostOpenHandles(), 1);
  // Every FALSE from FindNextFileA is followed at once by FindClose of that handle.
  const std::vector<FakeCall>& calls = fake.Calls();
  int ends = 0;
  for (std::size_t i = 0; i + 1 < calls.size(); ++i) {
    if (calls[i].kind != FakeCall::kFindNext || calls[i].result) continue;
    ++ends;
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

// Allocations made by one search of "." holding the given entries.
long long AllocationsOfASearch(const std::vector<FakeEntry>& entries, FinderSink* sink) {
  FakeFind local;
  local.AddDirectory(".", entries);
  DirectoryFinder finder(".", "*.*");
  finder.SetSink(sink);
  failing_allocator::Scope counter;
  finder.Run();
  return counter.Allocations();
}

std::vector<FakeEntry> Entries(int count, FakeEntry (*make)(const char*)) {
  std::vector<FakeEntry> entries;
  for (int i = 0; i < count; ++i) entries.push_back(make(("e" + std::to_string(i)).c_str()));
  return entries;
}

FakeEntry PlainFile(const char* name) { return FakeFile(name); }

TEST_F(DirectoryFinderTest, FilesCostNoAllocationWhateverTheirNumber) {
  EXPECT_EQ(AllocationsOfASearch(Entries(3, PlainFile), &sink),
            AllocationsOfASearch(Entries(60, PlainFile), &sink));
}

TEST_F(DirectoryFinderTest, ElevenQueuedSubdirectoriesTakeTwoNodeBlocks) {
  // Without a sink the queue is filled but not searched: one path per
  // subdirectory, plus a block for every ten.
  const long long nine = AllocationsOfASearch(Entries(9, FakeDirectory), nullptr);
  const long long ten = AllocationsOfASearch(Entries(10, FakeDirectory), nullptr);
  const long long eleven = AllocationsOfASearch(Entries(11, FakeDirectory), nullptr);
  EXPECT_EQ(ten - nine, 1) << "the tenth path fits the first block";
  EXPECT_EQ(eleven - ten, 2) << "the eleventh path takes a second block";
}

class ChildlessFinder : public DirectoryFinder {
 public:
  using DirectoryFinder::DirectoryFinder;
  DirectoryFinder* CreateChild(const char*, const char*) override { return nullptr; }
};

TEST_F(DirectoryFinderTest, AChildThatCannotBeAllocatedRaisesOutOfMemory) {
  AddTree(fake);
  ChildlessFinder finder(".", "*.*");
  finder.SetSink(&sink);
  try {
    finder.Run();
    ADD_FAILURE() << "the search went on without its child";
  } catch (const HResultException& e) {
    EXPECT_EQ(e.GetResult(), E_OUTOFMEMORY);
  }
}

// Each allocation of a whole search fails in turn: every failure must end the
// search with E_OUTOFMEMORY, after searching and notifying only a beginning
// of what the search without failures does: never a wrong directory.
TEST_F(DirectoryFinderTest, EveryAllocationFailureRaisesOutOfMemoryAndNeverMisleadsTheSearch) {
  for (const int mode : {ImmediateRecursion, QueuedRecursion}) {
    SCOPED_TRACE(mode);
    FakeFind reference;
    AddTree(reference);
    sink.Reset();
    EXPECT_TRUE(Search(mode));
    const std::vector<std::string> fullEvents = sink.AllEvents();
    const std::vector<std::string> fullSpecifications = reference.Specifications();

    int failingRuns = 0;
    for (std::int64_t failing = 0;; ++failing, ++failingRuns) {
      FakeFind local;
      AddTree(local);
      sink.Reset();
      const FailureOutcome outcome = RunWithFailingAllocation(failing, [&] { Search(mode); });
      if (!outcome.failed) break;
      SCOPED_TRACE("allocation " + std::to_string(failing) + " failing");
      EXPECT_TRUE(outcome.raisedOutOfMemory);
      const std::vector<std::string> events = sink.AllEvents();
      const std::vector<std::string> specifications = local.Specifications();
      ASSERT_LE(events.size(), fullEvents.size());
      EXPECT_TRUE(std::equal(events.begin(), events.end(), fullEvents.begin()));
      ASSERT_LE(specifications.size(), fullSpecifications.size());
      EXPECT_TRUE(
          std::equal(specifications.begin(), specifications.end(), fullSpecifications.begin()));
    }
    EXPECT_GE(failingRuns, 8);  // finders, their texts, paths, blocks
  }
}

}  // namespace
