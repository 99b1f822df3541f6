// Races between the walk and a tree that changes under it, each forced to
// happen the same way every run: a thread is held at a named point of the
// directory calls until the test has done its step, then let go.
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <future>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "platform/posix/read_ahead.h"
#include "platform/win32.h"
#include "tests/support/hold_board.h"
#include "tests/support/posix/settle.h"
#include "tests/support/posix/system_call_faults.h"
#include "tests/support/temp_tree.h"

namespace {

using system_calls::Point;
using ::testing::UnorderedElementsAreArray;

constexpr auto kPatience = std::chrono::seconds(10);

// What one search of specification answers: its names, or its error.
struct Listing {
  std::vector<std::string> names;
  DWORD error = 0;  // 0: listed to its end
};

Listing List(const std::string& specification) {
  Listing listing;
  WIN32_FIND_DATAA record;
  const HANDLE handle = FindFirstFileA(specification.c_str(), &record);
  if (handle == INVALID_HANDLE_VALUE) {
    listing.error = GetLastError();
    return listing;
  }
  do {
    listing.names.emplace_back(record.cFileName);
  } while (FindNextFileA(handle, &record));
  if (GetLastError() != ERROR_NO_MORE_FILES) listing.error = GetLastError();
  FindClose(handle);
  return listing;
}

// Listed whole with names (refusal 0), or refused with refusal and nothing listed.
void ExpectOutcome(const Listing& listing, DWORD refusal, const std::vector<std::string>& names) {
  EXPECT_EQ(listing.error, refusal);
  if (refusal == 0) {
    EXPECT_THAT(listing.names, UnorderedElementsAreArray(names));
  } else {
    EXPECT_THAT(listing.names, ::testing::IsEmpty());
  }
}

// Lists specification on another thread, as the walk would while a worker is held.
std::future<Listing> ListLater(const std::string& specification) {
  return std::async(std::launch::async, [specification] { return List(specification); });
}

// The listing the future brings, or a failed test and the end of the process
// when it never comes: a walk that waits for nobody cannot be joined.
Listing Await(std::future<Listing>& future) {
  if (future.wait_for(kPatience) != std::future_status::ready) {
    ADD_FAILURE() << "the walk hangs";
    std::_Exit(1);
  }
  return future.get();
}

// A tree the walk lists: three directories, each with a file of its own
// name, and outside it a folder of files the walk must never reach. The walk
// asks for subdirectories in the order its listing gave them: first (which
// sets the workers reading ahead), then second (the one raced for), then
// third.
class RaceTree : public TempTree {
 public:
  RaceTree() {
    for (const char* name : {"a", "b", "c"}) {
      AddFile(std::string("tree/mid/") + name + "/in_" + name);
    }
    AddFile("outside/ESCAPED");
  }
  // Lists the tree's top and the directory below, which holds the three, two
  // levels below the start as most of a tree is; learns the order they come in.
  DWORD ListTop() {
    if (const DWORD error = List((Root() / "tree" / "*").string()).error) return error;
    WIN32_FIND_DATAA record;
    const HANDLE handle = FindFirstFileA(Spec("").c_str(), &record);
    if (handle == INVALID_HANDLE_VALUE) return GetLastError();
    order.clear();
    do {
      if (record.cFileName[0] != '.') order.emplace_back(record.cFileName);
    } while (FindNextFileA(handle, &record));
    FindClose(handle);
    return order.size() == 3 ? 0 : ERROR_NO_MORE_FILES;
  }
  const std::string& First() const { return order.at(0); }
  const std::string& Second() const { return order.at(1); }
  const std::string& Third() const { return order.at(2); }
  std::vector<std::string> NamesIn(const std::string& directory) const {
    return {".", "..", "in_" + directory};
  }
  std::string Spec(const std::string& directory) const {
    return (Root() / "tree" / "mid" / directory / "*").string();
  }
  std::string Path(const std::string& relative) const { return (Root() / relative).string(); }

  // Puts what row names where tree/<name> was; answers why it cannot, or "".
  std::string Replace(const std::string& name, const std::string& with) const {
    const std::string place = Path("tree/mid/" + name);
    if (::rename(place.c_str(), (place + ".away").c_str()) != 0) return std::strerror(errno);
    if (with == "link") return ::symlink(Path("outside").c_str(), place.c_str()) == 0 ? "" : "link";
    if (with == "another directory") {
      return ::rename(Path("outside").c_str(), place.c_str()) == 0 ? "" : "rename";
    }
    if (with == "file") {
      const int fd = ::open(place.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
      if (fd >= 0) ::close(fd);
      return fd >= 0 ? "" : "file";
    }
    if (with == "mount") {
      if (::mkdir(place.c_str(), 0755) != 0) return "mkdir";
      if (::mount(Path("outside").c_str(), place.c_str(), nullptr, MS_BIND, nullptr) != 0) {
        return std::string("no bind mount here: ") + std::strerror(errno);
      }
      mounted = place;
      return "";
    }
    return "";  // nothing in its place
  }
  ~RaceTree() {
    if (!mounted.empty()) ::umount2(mounted.c_str(), MNT_DETACH);
  }

 private:
  std::vector<std::string> order;
  mutable std::string mounted;
};

// Workers reading ahead wait before opening any of the three: the walk
// asking for the directory below the start sets them reading ahead.
void HoldEachOpeningAhead(Holds& holds) {
  for (const char* name : {"a", "b", "c"}) holds.HoldAt(Point::kOpeningAhead, name);
}

const char* const kReplacements[] = {"link", "another directory", "file", "mount", "nothing"};

// What the walk must answer for a directory replaced by what: a directory
// gone is not there to search; one replaced by anything is refused as changed.
DWORD RefusalFor(const std::string& replacement) {
  return replacement == "nothing" ? ERROR_PATH_NOT_FOUND : ERROR_FILE_INVALID;
}

// Replaced between its parent's listing and its opening, on whatever thread
// count this process runs with (one thread: the walk opens it as it asks).
void ExpectReplacedDirectoriesRefused() {
  for (const char* replacement : kReplacements) {
    SCOPED_TRACE(replacement);
    RaceTree tree;
    // Workers reading ahead wait to open any of the three until they are replaced.
    Holds holds;
    HoldEachOpeningAhead(holds);
    ASSERT_EQ(tree.ListTop(), 0u);
    const std::string why = tree.Replace(tree.First(), replacement);
    if (!why.empty()) {
      std::printf("skipped %s: %s\n", replacement, why.c_str());
      continue;
    }
    ASSERT_EQ(tree.Replace(tree.Third(), "link"), "");
    for (const char* name : {"a", "b", "c"}) holds.Release(Point::kOpeningAhead, name);
    ExpectOutcome(List(tree.Spec(tree.First())), RefusalFor(replacement), {});
    // Out of turn too: the third, asked for before the second.
    EXPECT_EQ(List(tree.Spec(tree.Third())).error, ERROR_FILE_INVALID);
    EXPECT_THAT(List(tree.Spec(tree.Second())).names,
                UnorderedElementsAreArray(tree.NamesIn(tree.Second())));
  }
}

TEST(LiveTreeRaceTest, ADirectoryReplacedAfterItsListingIsRefused) {
  ExpectReplacedDirectoriesRefused();
}

TEST(LiveTreeRaceTest, ADirectoryReplacedAfterItsListingIsRefusedOnOneThread) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        ::setenv("PACKHOUND_THREADS", "1", 1);
        if (read_ahead::Enabled()) std::_Exit(2);
        ExpectReplacedDirectoriesRefused();
        std::_Exit(testing::Test::HasFailure() ? 1 : 0);
      },
      testing::ExitedWithCode(0), "");
}

// The walk asks for b while a worker is opening it; whatever the open then
// answers, the walk gets b's listing or b's refusal, and never waits for a
// change no thread will make.
TEST(LiveTreeRaceTest, TheWalkAskingForADirectoryAWorkerIsOpeningGetsWhatTheOpenLeaves) {
  if (!read_ahead::Enabled()) GTEST_SKIP() << "the walk runs on one thread";
  const struct {
    const char* name;
    int error;                // injected into the worker's open; 0: none
    const char* replacement;  // put in b's place while the worker is held; "": none
    DWORD expected;           // 0: b is listed
  } rows[] = {
      {"descriptors run out", EMFILE, "", 0},
      {"memory runs out", ENOMEM, "", 0},
      {"a link in its place", ELOOP, "", ERROR_FILE_INVALID},
      {"a mount in its place", EXDEV, "", ERROR_FILE_INVALID},
      {"replaced by a link", 0, "link", ERROR_FILE_INVALID},
      {"replaced by another directory", 0, "another directory", ERROR_FILE_INVALID},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    read_ahead::Settle();
    RaceTree tree;
    std::future<Listing> later;  // joined after holds lets every thread go
    Holds holds;
    HoldEachOpeningAhead(holds);
    ASSERT_EQ(tree.ListTop(), 0u);
    const std::string b = tree.Second();
    // The third stays held, so that only b's open meets the failure.
    holds.Release(Point::kOpeningAhead, tree.First());
    ASSERT_EQ(List(tree.Spec(tree.First())).error, 0u);
    ASSERT_TRUE(holds.WaitFor(Point::kOpeningAhead, b));
    later = ListLater(tree.Spec(b));
    ASSERT_TRUE(holds.WaitFor(Point::kWaitingForWorker, b));
    if (*row.replacement != '\0') {
      ASSERT_EQ(tree.Replace(b, row.replacement), "");
    }
    if (row.error != 0) system_calls::InjectFailure(system_calls::Call::kOpenAt, 0, row.error);
    holds.Release(Point::kOpeningAhead, b);
    ASSERT_TRUE(holds.WaitFor(Point::kOpenedAhead, b));
    holds.Release(Point::kOpeningAhead, tree.Third());  // the walk may open it aside
    const Listing listing = Await(later);
    system_calls::ClearInjectedFailures();
    ExpectOutcome(listing, row.expected, tree.NamesIn(b));
  }
}

// A worker gives a directory back for want of a descriptor; while the walk
// is about to open it from its parent's descriptor, a worker opens the last
// other child, and new descriptors take the lowest free numbers. The
// parent's descriptor must still be the parent's: the directory is listed,
// not whatever a reused number names (here the other child, which holds a
// directory of the same name).
TEST(LiveTreeRaceTest, AParentStaysOpenForAChildTheWalkOpensItself) {
  if (!read_ahead::Enabled()) GTEST_SKIP() << "the walk runs on one thread";
  read_ahead::Settle();
  RaceTree tree;
  std::future<Listing> later;  // joined after holds lets every thread go
  Holds holds;
  HoldEachOpeningAhead(holds);
  ASSERT_EQ(tree.ListTop(), 0u);
  const std::string b = tree.Second();
  const std::string c = tree.Third();
  tree.AddFile("tree/mid/" + c + "/" + b + "/WRONG");
  holds.HoldAt(Point::kOpeningInLine, b);
  holds.Release(Point::kOpeningAhead, tree.First());
  ASSERT_EQ(List(tree.Spec(tree.First())).error, 0u);
  ASSERT_TRUE(holds.WaitFor(Point::kOpeningAhead, b));
  system_calls::InjectFailure(system_calls::Call::kOpenAt, 0, EMFILE);
  holds.Release(Point::kOpeningAhead, b);
  ASSERT_TRUE(holds.WaitFor(Point::kOpenedAhead, b));
  later = ListLater(tree.Spec(b));
  ASSERT_TRUE(holds.WaitFor(Point::kOpeningInLine, b));
  ASSERT_TRUE(holds.WaitFor(Point::kOpeningAhead, c));
  holds.Release(Point::kOpeningAhead, c);
  // The worker has opened c, let go of its count in the parent, and of
  // whatever that let go of.
  ASSERT_TRUE(holds.WaitFor(Point::kReading, c));
  std::vector<int> reused;
  for (int i = 0; i < 4; ++i) {
    reused.push_back(::open(tree.Path("tree/mid/" + c).c_str(), O_RDONLY));
  }
  holds.Release(Point::kOpeningInLine, b);
  const Listing listing = Await(later);
  for (const int fd : reused) ::close(fd);
  system_calls::ClearInjectedFailures();
  ExpectOutcome(listing, 0, tree.NamesIn(b));
}

// A listing read ahead long before the walk reaches it is checked then; a
// directory replaced by then is refused, never listed from its new place.
TEST(LiveTreeRaceTest, ADirectoryReplacedBeforeTheFreshnessCheckIsRefused) {
  if (!read_ahead::Enabled()) GTEST_SKIP() << "the walk runs on one thread";
  for (const char* replacement : {"link", "another directory", "file", "nothing"}) {
    SCOPED_TRACE(replacement);
    read_ahead::Settle();
    RaceTree tree;
    std::future<Listing> later;  // joined after holds lets every thread go
    Holds holds;
    ASSERT_EQ(tree.ListTop(), 0u);
    const std::string b = tree.Second();
    holds.HoldAt(Point::kCheckingFreshness, b);
    ASSERT_EQ(List(tree.Spec(tree.First())).error, 0u);
    ASSERT_TRUE(holds.WaitFor(Point::kReading, b));
    // Old enough to be checked again (a listing read ahead counts as fresh for 10 ms).
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    later = ListLater(tree.Spec(b));
    ASSERT_TRUE(holds.WaitFor(Point::kCheckingFreshness, b));
    ASSERT_EQ(tree.Replace(b, replacement), "");
    holds.Release(Point::kCheckingFreshness, b);
    const Listing listing = Await(later);
    ExpectOutcome(listing, RefusalFor(replacement), {});
  }
}

// A listing read ahead that changed since, read again as the walk reaches
// it, lets go of its directory's descriptor only once no worker is opening a
// subdirectory relative to it: the worker's open never lands on a
// descriptor closed, or reused for another directory, meanwhile.
TEST(LiveTreeRaceTest, ADescriptorIsLetGoOfOnlyOnceNoWorkerOpensBelowIt) {
  if (!read_ahead::Enabled()) GTEST_SKIP() << "the walk runs on one thread";
  read_ahead::Settle();
  RaceTree tree;
  std::future<Listing> later;  // joined after holds lets every thread go
  Holds holds;
  // Each of the three has a subdirectory of its own name, there before any
  // is listed; workers wait to open them until the test knows which is b's.
  for (const char* name : {"a", "b", "c"}) {
    tree.AddDirectory(std::string("tree/mid/") + name + "/below_" + name);
    holds.HoldAt(Point::kOpeningAhead, std::string("below_") + name);
  }
  ASSERT_EQ(tree.ListTop(), 0u);
  const std::string b = tree.Second();
  const std::string below = "below_" + b;
  holds.HoldAt(Point::kOpeningInLine, b);
  holds.Release(Point::kOpeningAhead, "below_" + tree.First());
  holds.Release(Point::kOpeningAhead, "below_" + tree.Third());
  ASSERT_EQ(List(tree.Spec(tree.First())).error, 0u);
  // A worker is about to open b's subdirectory from b's descriptor.
  ASSERT_TRUE(holds.WaitFor(Point::kOpeningAhead, below));
  long parentFd = -1;
  for (const HoldBoard::Passage& passage : holds.Passages()) {
    if (passage.point == Point::kOpeningAhead && passage.name == below) parentFd = passage.detail;
  }
  struct stat listed;
  ASSERT_EQ(::fstat(static_cast<int>(parentFd), &listed), 0)
      << parentFd << " " << std::strerror(errno);
  // b changes, and its listing is older than the walk trusts: read again.
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  tree.AddFile("tree/mid/" + b + "/new");
  // The walk's own order: the first one's subdirectory, then b.
  ASSERT_EQ(List(tree.Spec(tree.First() + "/below_" + tree.First())).error, 0u);
  later = ListLater(tree.Spec(b));
  ASSERT_NE(holds.WaitForEither({{Point::kOpeningInLine, b}, {Point::kWaitingForWorker, b}}), -1);
  struct stat still;
  EXPECT_EQ(::fstat(static_cast<int>(parentFd), &still), 0) << "closed under the worker";
  EXPECT_EQ(still.st_ino, listed.st_ino) << "taken by another directory";
  holds.Release(Point::kOpeningAhead, below);
  holds.Release(Point::kOpeningInLine, b);
  const Listing listing = Await(later);
  std::vector<std::string> names = tree.NamesIn(b);
  names.insert(names.end(), {below, "new"});
  ExpectOutcome(listing, 0, names);
  for (const HoldBoard::Passage& passage : holds.Passages()) {
    if (passage.point == Point::kOpenedAhead && passage.name == below) {
      EXPECT_NE(passage.detail, EBADF) << "opened relative to a closed descriptor";
    }
  }
}

// A worker stuck in a system call (a disk or server that never answers) does
// not keep the process from exiting once the walk is done with it.
TEST(LiveTreeRaceTest, ExitDoesNotWaitForAWorkerStuckInACall) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        ::setenv("PACKHOUND_THREADS", "2", 1);
        RaceTree tree;
        Holds holds;  // never released: std::exit leaves it in place
        HoldEachOpeningAhead(holds);
        if (tree.ListTop() != 0) std::_Exit(4);
        holds.Release(Point::kOpeningAhead, tree.First());
        List(tree.Spec(tree.First()));
        if (!holds.WaitFor(Point::kOpeningAhead, tree.Second())) std::_Exit(3);
        // The tree goes first of what runs at exit: the held worker touches it no more.
        static std::string leftBehind;
        leftBehind = tree.Root().string();
        std::atexit([] {
          std::error_code ignored;
          std::filesystem::remove_all(leftBehind, ignored);
        });
        ::alarm(5);  // an exit that waits for the worker ends by the signal instead
        std::exit(0);
      },
      testing::ExitedWithCode(0), "");
}

}  // namespace
