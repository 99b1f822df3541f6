// A tree that changes while it is searched: another thread keeps creating and
// removing files and directories (never renaming anything) during each run.
// A file present throughout is listed exactly once, no line comes twice, the
// count lies between the files present throughout and every file that
// existed at some moment of the run, and only a churned directory removed
// before its turn is reported as gone. Then one removal at a named point.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/output_lines.h"
#include "tests/support/posix/held_run.h"
#include "tests/support/remove_tree.h"
#include "tests/support/temp_tree.h"
#include "tests/support/tool_runner.h"

namespace {

constexpr int kStableFiles = 60;
constexpr int kRuns = 25;
constexpr int kWindow = 40;  // indexes whose entries are alive at once, besides the newest

// Creates churn/f<i>, churn/d<i>/ and churn/d<i>/g<i> for i = 0, 1, 2, ...
// and removes those of i - kWindow, until told to stop.
class Churner {
 public:
  explicit Churner(std::string folder) : root(std::move(folder)), worker([this] { Loop(); }) {}
  ~Churner() {
    stop = true;
    worker.join();
  }

  // Indexes begun so far: every churned file a run can see has an index below this.
  int Begun() const { return begun.load(); }

 private:
  void Loop() {
    for (int i = 0; !stop; ++i) {
      const std::string n = std::to_string(i);
      begun = i + 1;
      Touch(root + "/f" + n);
      ::mkdir((root + "/d" + n).c_str(), 0755);
      Touch(root + "/d" + n + "/g" + n);
      if (i >= kWindow) {
        const std::string old = std::to_string(i - kWindow);
        ::unlink((root + "/f" + old).c_str());
        ::unlink((root + "/d" + old + "/g" + old).c_str());
        ::rmdir((root + "/d" + old).c_str());
      }
    }
  }

  static void Touch(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd >= 0) ::close(fd);
  }

  const std::string root;
  std::atomic<bool> stop{false};
  std::atomic<int> begun{0};
  std::thread worker;  // last: starts once the rest is ready
};

// Whether line names a churned file: ./churn/f<i> or ./churn/d<i>/g<i>, i below limit.
bool IsChurned(const std::string& line, int limit) {
  std::size_t index = 0;
  int number = -1;
  try {
    if (line.rfind("./churn/f", 0) == 0) {
      number = std::stoi(line.substr(9), &index);
      return index == line.size() - 9 && number < limit;
    }
    if (line.rfind("./churn/d", 0) == 0) {
      number = std::stoi(line.substr(9), &index);
      return line.substr(9 + index) == "/g" + std::to_string(number) && number < limit;
    }
  } catch (const std::exception&) {
  }
  return false;
}

// Whether line reports ./churn/d<i>, i below limit, as gone.
bool IsChurnedDirectoryGone(const std::string& line, int limit) {
  const std::string prefix = "Packhound: Cannot search ./churn/d";
  const std::string suffix = ": no such directory.";
  if (line.rfind(prefix, 0) != 0 || line.size() <= prefix.size() + suffix.size() ||
      line.compare(line.size() - suffix.size(), suffix.size(), suffix) != 0) {
    return false;
  }
  const std::string number =
      line.substr(prefix.size(), line.size() - prefix.size() - suffix.size());
  if (number.find_first_not_of("0123456789") != std::string::npos) return false;
  return std::stoi(number) < limit;
}

TEST(HostileChurnTest, AChangingTreeListsNothingTwiceAndKeepsTheCountInBounds) {
  TempTree tree;
  std::set<std::string> stable;
  for (int i = 0; i < kStableFiles; ++i) {
    const std::string file = (i % 3 == 0   ? ""
                              : i % 3 == 1 ? "still/"
                                           : "churn/") +
                             std::string("s") + std::to_string(i);
    tree.AddFile(file);
    stable.insert("./" + file);
  }
  tree.AddDirectory("churn");

  Churner churner((tree / "churn").string());
  int changedDuringRuns = 0;
  for (int run = 0; run < kRuns; ++run) {
    SCOPED_TRACE("run " + std::to_string(run));
    const int begunBefore = churner.Begun();
    const ProcessResult result = RunTool(PACKHOUND_PATH, {"-su", "-nh"}, tree.Root().string());
    const int begunAfter = churner.Begun();
    if (begunAfter > begunBefore) ++changedDuringRuns;

    std::vector<std::string> lines = OutputLines(result.out);
    ASSERT_FALSE(lines.empty()) << result.err;
    const std::string summary = lines.back();
    lines.pop_back();
    const std::set<std::string> unique(lines.begin(), lines.end());
    EXPECT_EQ(unique.size(), lines.size()) << "a line came twice";
    for (const std::string& file : stable) EXPECT_EQ(unique.count(file), 1u) << file;
    for (const std::string& line : unique) {
      EXPECT_TRUE(stable.count(line) == 1 || IsChurned(line, begunAfter)) << line;
    }
    const std::size_t count = lines.size();
    // Two churned files per index; at most kWindow + 1 indexes alive at the start.
    EXPECT_LE(count,
              stable.size() + 2 * static_cast<std::size_t>(kWindow + 1 + begunAfter - begunBefore));
    EXPECT_EQ(summary, "Found " + std::to_string(count) + " uncompressed files in " +
                           std::to_string(count) + " items examined. ");
    for (const std::string& line : OutputLines(result.err)) {
      EXPECT_TRUE(IsChurnedDirectoryGone(line, begunAfter)) << line;
    }
    EXPECT_EQ(result.exitStatus, static_cast<int>(std::min<std::size_t>(count, 254)));
  }
  // Otherwise the runs proved nothing about a changing tree.
  EXPECT_GT(changedDuringRuns, kRuns / 2);
}

// Two directories; the walk is held as it is about to search the second,
// whatever it read ahead of it before, and the second is removed meanwhile.
// It is reported as gone, and the rest comes out as from the tree without it,
// on one thread and on several.
TEST(HostileChurnTest, ADirectoryRemovedBeforeItsTurnIsReportedAndTheWalkGoesOn) {
  TempTree tree;
  tree.AddDirectory("one");
  tree.AddDirectory("two");
  std::vector<std::string> order;
  DIR* listing = ::opendir(tree.Root().c_str());
  ASSERT_NE(listing, nullptr);
  while (const dirent* entry = ::readdir(listing)) {
    if (entry->d_name[0] != '.') order.emplace_back(entry->d_name);
  }
  ::closedir(listing);
  ASSERT_EQ(order.size(), 2u);
  const std::string first = order[0];
  const std::string second = order[1];
  for (int i = 0; i < 30; ++i) tree.AddFile(first + "/" + std::to_string(i));
  for (const unsigned threads : {1u, 2u, 16u}) {
    SCOPED_TRACE(std::to_string(threads) + " threads");
    tree.AddFile(second + "/inner.txt");
    bool held = false;
    const ProcessResult run = RunHeld(
        PACKHOUND_HELD_PATH, {"-su"}, tree.Root().string(), threads, "asked",
        "./" + second + "/*.*",
        [&] {
          RemoveTree((tree / second).string());
          // Whatever was read of it before the hold is past the freshness
          // window when the walk goes on.
          std::this_thread::sleep_for(std::chrono::milliseconds(20));
        },
        held);
    ASSERT_TRUE(held) << run.out << run.err;
    EXPECT_EQ(run.err, "Packhound: Cannot search ./" + second + ": no such directory.\n");
    EXPECT_EQ(OutputLines(run.out).back(), "Found 30 uncompressed files in 30 items examined. ");
    EXPECT_EQ(run.exitStatus, 30);

    const ProcessResult without = RunTool(PACKHOUND_PATH, {"-su"}, tree.Root().string());
    EXPECT_TRUE(run.out == without.out) << "the listing differs from the tree's without " << second;
    EXPECT_EQ(without.err, "");
    EXPECT_EQ(without.exitStatus, run.exitStatus);
  }
}

}  // namespace
