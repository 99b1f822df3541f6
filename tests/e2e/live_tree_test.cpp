// A tree that changes under the walk, and a machine short of descriptors or
// address space. The walk enters only the directories its listings named: one
// replaced between its listing and the walk's turn (by a link, a mount,
// another directory, a file) gets one warning and counts as empty, and
// nothing outside the tree is ever listed. No run hangs, and under limits the
// walk on one thread meets, more threads give the same bytes.
#include <fcntl.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/output_lines.h"
#include "tests/support/posix/held_run.h"
#include "tests/support/remove_tree.h"
#include "tests/support/temp_tree.h"
#include "tests/support/tool_runner.h"

namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;
using std::chrono::steady_clock;

constexpr unsigned kThreadCounts[] = {1, 2, 16};

// Named only outside the searched tree: seen in any output, the walk left it.
const std::string kMarker = "ESCAPE_MARKER_" + std::to_string(::getpid());

// Launcher words: the shell commands in setup, then the tool on that many walk threads.
std::vector<std::string> Launcher(unsigned threads, const std::string& setup) {
  return {"/usr/bin/env", "PACKHOUND_THREADS=" + std::to_string(threads), "/bin/bash", "-c",
          setup + "exec \"$0\" \"$@\""};
}

// The setup that writes the id the tool will run under to file.
std::string WritePid(const fs::path& file) { return "echo $$ > '" + file.string() + "'; "; }

pid_t ReadPid(const fs::path& file) {
  pid_t pid = -1;
  std::ifstream(file) >> pid;
  return pid;
}

// Whether each thread of process pid is stopped.
bool Stopped(pid_t pid) {
  std::error_code error;
  fs::directory_iterator tasks("/proc/" + std::to_string(pid) + "/task", error);
  return !error && std::all_of(begin(tasks), end(tasks), [](const fs::directory_entry& task) {
    std::ifstream stat(task.path() / "stat");
    return std::string{std::istreambuf_iterator<char>(stat), {}}.find(") T ") != std::string::npos;
  });
}

// Bind mounts, undone however the case ends.
struct Mounts {
  ~Mounts() {
    for (const std::string& point : points) ::umount2(point.c_str(), MNT_DETACH);
  }
  bool Bind(const fs::path& from, const fs::path& onto) {
    if (::mount(from.c_str(), onto.c_str(), nullptr, MS_BIND, nullptr) != 0) return false;
    points.push_back(onto.string());
    return true;
  }
  std::vector<std::string> points;
};

// Why a bind mount is refused here (not root, a container without
// CAP_SYS_ADMIN); empty when it is allowed.
std::string MountRefusal(const TempTree& world) {
  world.AddDirectory("probe/onto");
  Mounts mounts;
  if (mounts.Bind(world / "probe", world / "probe/onto")) return "";
  return std::string("mount --bind refused: ") + std::strerror(errno);
}

// Where the lines got first differ from those wanted, for a short message.
std::string FirstDifference(const std::vector<std::string>& got,
                            const std::vector<std::string>& wanted) {
  const auto [at, want] = std::mismatch(got.begin(), got.end(), wanted.begin(), wanted.end());
  return "line " + std::to_string(at - got.begin() + 1) + ": " +
         (at != got.end() ? *at : "(none)") +
         "\n  expected: " + (want != wanted.end() ? *want : "(none)");
}

// The names of the subdirectories of directory, in the order the file system lists them.
std::vector<std::string> Subdirectories(const fs::path& directory) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(directory)) {
    if (entry.is_directory()) names.push_back(entry.path().filename().string());
  }
  return names;
}

enum class Replacement { kLink, kMount, kOtherDirectory, kFile };
// How the walk is held up while the six are replaced: at the named point
// where it asks for the first of them, tree/ listed whole and the big one
// searched, or by a stop as soon as the header comes, in the middle of the
// listing of tree/ itself.
enum class Hold { kAtTheFirstOfThem, kStoppedAtHeader };

// tree/ holds 3000 files and seven directories. The one the walk takes first
// holds 3000 more; the other six are replaced while the walk is held, each by
// something from out/ or other/, whose files carry the marker.
class LiveTreeTest : public testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"a", "c", "d", "e", "f", "g", "h"}) {
      world.AddDirectory("tree/" + std::string(name));
    }
    replaced = Subdirectories(world / "tree");
    big = replaced.front();
    replaced.erase(replaced.begin());
    for (int i = 0; i < 6000; ++i) {
      const std::string file =
          "tree/" + (i < 3000 ? "" : big + "/") + std::to_string(i) + std::string(100, 'f');
      world.AddFile(file);
      listed.push_back(file);
    }
    std::sort(listed.begin(), listed.end());
    world.AddFile("out/" + kMarker);
    world.AddDirectory("away");
  }

  // The six as the walk's listing finds them, and their replacements in other/.
  void PutBack() const {
    for (const std::string& name : replaced) {
      RemoveTree((world / ("tree/" + name)).string());
      RemoveTree((world / ("away/" + name)).string());
      world.AddFile("tree/" + name + "/inner_" + name);
      world.AddFile("other/" + name + "/" + kMarker);
    }
    ASSERT_EQ(Subdirectories(world / "tree").front(), big) << "made again, they come first";
  }

  void Replace(Replacement how, Mounts& mounts) const {
    for (const std::string& name : replaced) {
      const fs::path directory = world / ("tree/" + name);
      if (how == Replacement::kMount) {
        EXPECT_TRUE(mounts.Bind(world / "out", directory)) << std::strerror(errno);
        continue;
      }
      fs::rename(directory, world / ("away/" + name));
      if (how == Replacement::kLink) fs::create_directory_symlink(world / "out", directory);
      if (how == Replacement::kOtherDirectory) fs::rename(world / ("other/" + name), directory);
      if (how == Replacement::kFile) world.AddFile("tree/" + name);
    }
  }

  TempTree world;
  std::string big;
  std::vector<std::string> replaced;
  std::vector<std::string> listed;  // sorted
};

TEST_F(LiveTreeTest, ADirectoryReplacedBeforeItsTurnIsReportedOnceAndNotSearched) {
  const std::string mountRefusal = MountRefusal(world);
  const struct {
    const char* name;
    Replacement how;
  } replacements[] = {{"a link to a folder outside", Replacement::kLink},
                      {"a folder from outside mounted on it", Replacement::kMount},
                      {"a folder from outside renamed into place", Replacement::kOtherDirectory},
                      {"a regular file", Replacement::kFile}};
  std::vector<std::string> warnings;
  std::vector<std::string> asFiles;  // the six, as a listing of links that lead outside names them
  for (const std::string& name : replaced) {
    warnings.push_back("Packhound: Cannot search tree/" + name + ": changed during the search.");
    asFiles.push_back("tree/" + name);
  }
  std::sort(warnings.begin(), warnings.end());
  std::sort(asFiles.begin(), asFiles.end());
  const fs::path pidFile = world / "pid";

  for (const auto& replacement : replacements) {
    const Replacement how = replacement.how;
    if (how == Replacement::kMount && !mountRefusal.empty()) {
      std::printf("%s: skipped, %s\n", replacement.name, mountRefusal.c_str());
      continue;
    }
    for (const Hold hold : {Hold::kAtTheFirstOfThem, Hold::kStoppedAtHeader}) {
      // At the header the six may yet be listed after the change: a mount
      // point is then passed over (the closing line counts it), and a link to a folder
      // outside is a file of the tree; a file or a directory from elsewhere
      // is rightly taken as what tree/ holds.
      const bool early = hold == Hold::kStoppedAtHeader;
      if (early && (how == Replacement::kOtherDirectory || how == Replacement::kFile)) continue;
      for (const unsigned threads : kThreadCounts) {
        SCOPED_TRACE(std::string(replacement.name) + ", " +
                     (early ? "stopped at the header" : "held at the first of them") + ", " +
                     std::to_string(threads) + " threads");
        Mounts mounts;
        ASSERT_NO_FATAL_FAILURE(PutBack());
        bool done = false;
        ProcessResult run;
        if (early) {
          fs::remove(pidFile);
          ToolLaunch launch;
          launch.launcher = Launcher(threads, WritePid(pidFile));
          launch.deadlineSeconds = 20;
          launch.watcher = [&](const std::string&) {
            if (done) return;
            done = true;
            const pid_t pid = ReadPid(pidFile);
            ASSERT_GT(pid, 0);
            struct Resume {
              pid_t pid;
              ~Resume() { ::kill(pid, SIGCONT); }
            } resume{pid};
            ::kill(pid, SIGSTOP);
            for (int i = 0; i < 2000 && !Stopped(pid); ++i)
              std::this_thread::sleep_for(milliseconds(5));
            Replace(how, mounts);
          };
          run = RunTool(PACKHOUND_PATH, {"-su", "tree"}, world.Root().string(), launch);
        } else {
          run = RunHeld(
              PACKHOUND_HELD_PATH, {"-su", "tree"}, world.Root().string(), threads, "asked",
              "tree/" + replaced.front() + "/*.*",
              [&] {
                Replace(how, mounts);
                // Whatever was read ahead of the six before the hold is past
                // the freshness window when the walk goes on.
                std::this_thread::sleep_for(milliseconds(20));
              },
              done);
        }
        ASSERT_TRUE(done) << run.err;

        std::vector<std::string> lines = OutputLines(run.out);
        ASSERT_GE(lines.size(), 2u) << run.err;
        EXPECT_EQ(lines.front(), "Recursive search of tree for uncompressed files.");
        std::vector<std::string> files =
            SortedLines(std::vector<std::string>(lines.begin() + 1, lines.end() - 1));
        // Only links listed before they were looked at come as files of their own.
        std::vector<std::string> extra;
        std::set_difference(files.begin(), files.end(), listed.begin(), listed.end(),
                            std::back_inserter(extra));
        EXPECT_TRUE(std::includes(asFiles.begin(), asFiles.end(), extra.begin(), extra.end()) &&
                    (extra.empty() || (early && how == Replacement::kLink)))
            << extra.front();
        std::vector<std::string> wanted = listed;
        wanted.insert(wanted.end(), extra.begin(), extra.end());
        std::sort(wanted.begin(), wanted.end());
        EXPECT_TRUE(files == wanted) << FirstDifference(files, wanted);
        const std::string count = std::to_string(wanted.size());
        EXPECT_EQ(lines.back(),
                  "Found " + count + " uncompressed files in " + count + " items examined. ");
        std::vector<std::string> said = SortedLines(OutputLines(run.err));
        // Mounted over before they were listed, they are mount points passed over.
        if (early && how == Replacement::kMount) {
          std::erase_if(said, [](const std::string& line) {
            return line.find(" not searched (") != std::string::npos;
          });
        }
        EXPECT_TRUE(early
                        ? std::includes(warnings.begin(), warnings.end(), said.begin(), said.end())
                        : said == warnings)
            << run.err;
        EXPECT_EQ(run.exitStatus, 254);
      }
    }
  }
}

// x is moved out of the tree while the walk, held, is about to search its
// subdirectory y, whatever was read or kept open of x and y before: y is
// looked for where its listing put it and found gone, and nothing made in the
// moved directories since is listed, on every number of threads.
TEST(LiveTreeMoveTest, ADirectoryMovedOutOfTheTreeIsSearchedNoFurther) {
  TempTree world;
  world.AddDirectory("elsewhere");
  for (const unsigned threads : kThreadCounts) {
    SCOPED_TRACE(std::to_string(threads) + " threads");
    RemoveTree((world / "elsewhere/x").string());
    world.AddFile("tree/x/f");
    world.AddFile("tree/x/y/g");
    bool held = false;
    const ProcessResult run = RunHeld(
        PACKHOUND_HELD_PATH, {"-su", "-nh", "tree"}, world.Root().string(), threads, "asked",
        "tree/x/y/*.*",
        [&] {
          fs::rename(world / "tree/x", world / "elsewhere/x");
          world.AddFile("elsewhere/x/y/" + kMarker);
          // Past the freshness window, whatever was read before the hold.
          std::this_thread::sleep_for(milliseconds(20));
        },
        held);
    ASSERT_TRUE(held) << run.err;
    EXPECT_EQ(run.out, "tree/x/f\nFound 1 uncompressed files in 1 items examined. \n");
    EXPECT_EQ(run.err, "Packhound: Cannot search tree/x/y: no such directory.\n");
    EXPECT_EQ(run.exitStatus, 1);
  }
}

// 40 directories of 5 subdirectories, a file in each, and two files on top.
class LiveTreeScarcityTest : public testing::Test {
 protected:
  void SetUp() override {
    for (int top = 0; top < 40; ++top) {
      for (int below = 0; below < 5; ++below) {
        tree.AddFile("d" + std::to_string(top) + "/s" + std::to_string(below) + "/file");
      }
    }
    tree.AddFile("top1");
    tree.AddFile("top2");
    unconstrained = Run(1, "");
    ASSERT_EQ(unconstrained.err, "");
    ASSERT_EQ(unconstrained.exitStatus, 202);
  }

  ProcessResult Run(unsigned threads, const std::string& setup) const {
    return Run(threads, setup, tree);
  }
  static ProcessResult Run(unsigned threads, const std::string& setup, const TempTree& over) {
    ToolLaunch launch;
    launch.launcher = Launcher(threads, setup);
    launch.deadlineSeconds = 30;
    return RunTool(PACKHOUND_PATH, {"-su"}, over.Root().string(), launch);
  }

  static bool Same(const ProcessResult& run, const ProcessResult& expected) {
    return run.out == expected.out && run.err == expected.err &&
           run.exitStatus == expected.exitStatus;
  }
  static void ExpectSame(const ProcessResult& run, const ProcessResult& expected) {
    EXPECT_TRUE(run.out == expected.out)
        << FirstDifference(OutputLines(run.out), OutputLines(expected.out));
    EXPECT_TRUE(run.err == expected.err)
        << FirstDifference(OutputLines(run.err), OutputLines(expected.err));
    EXPECT_EQ(run.exitStatus, expected.exitStatus);
  }

  TempTree tree;
  ProcessResult unconstrained;
};

#if defined(__SANITIZE_ADDRESS__)
// The sanitizers' runtime needs descriptors of its own to check the program:
// with a handful free it reports faults the tool does not have.
constexpr int kFewestFree = 16;
#else
constexpr int kFewestFree = 2;
#endif

// The limit leaves room for 64, but the shell holds all but a few open, as a
// parent that leaks descriptors does. With 4 free the whole tree is within
// reach; with 2 the walk may give up on some directories, but threads must
// not make it give up on more.
TEST_F(LiveTreeScarcityTest, FewFreeDescriptorsNeverHangAndMoreThreadsDoNoWorse) {
  if (std::getenv("PACKHOUND_TEST_WRAPPER") != nullptr) {
    GTEST_SKIP() << "a wrapper needs descriptors of its own";
  }
  for (const int free : {2, 4, 6, 8, 16}) {
    if (free < kFewestFree) continue;
    const std::string setup =
        "for fd in /proc/$$/fd/*; do fd=${fd##*/}; ((fd > 2)) && eval \"exec $fd<&-\"; done; "
        "ulimit -n 64; for ((fd = 3; fd < " +
        std::to_string(64 - free) + "; ++fd)); do eval \"exec $fd</dev/null\"; done; ";
    ProcessResult oneThread;
    for (const unsigned threads : kThreadCounts) {
      SCOPED_TRACE(std::to_string(free) + " free, " + std::to_string(threads) + " threads");
      const ProcessResult run = Run(threads, setup);
      ASSERT_NE(run.exitStatus, -1) << "hung or crashed: " << run.err.substr(0, 600);
      if (threads == 1) oneThread = run;
      ExpectSame(run, free >= 4 ? unconstrained : oneThread);
    }
  }
}

// Every address-space limit from 4 MiB to 32 MiB at which the walk on one
// thread gives the unconstrained output: 2 and 16 threads give it too. Over
// the small tree, and over one of large listings, where the walk's own thread
// once found no room for a batch while workers held batches read ahead.
TEST_F(LiveTreeScarcityTest, AnAddressSpaceLimitTheOneThreadWalkMeetsSuitsEveryThreadCount) {
  if (std::getenv("PACKHOUND_TEST_WRAPPER") != nullptr) {
    GTEST_SKIP() << "a wrapper's address space is not the tool's";
  }
  TempTree wide;
  for (int directory = 0; directory < 16; ++directory) {
    const std::string top = "d" + std::to_string(directory) + "/";
    for (int below = 0; below < 3; ++below) wide.AddFile(top + "s" + std::to_string(below) + "/f");
    for (int file = 0; file < 600; ++file) {
      wide.AddFile(top + std::string(60, 'n') + std::to_string(file));
    }
  }
  const struct {
    const char* name;
    const TempTree& tree;
    int stepKib;
    int mostKib;
  } trees[] = {{"small", tree, 1024, 32 * 1024}, {"large listings", wide, 512, 16 * 1024}};
  for (const auto& row : trees) {
    SCOPED_TRACE(row.name);
    const auto within = [&](unsigned threads, int kib) {
      return Run(threads, "ulimit -v " + std::to_string(kib) + "; ", row.tree);
    };
    const ProcessResult whole = Run(1, "", row.tree);
    if (!Same(within(1, 64 * 1024), whole)) {
      GTEST_SKIP()
          << "the tool does not run in 64 MiB of address space (a sanitizer reserves more)";
    }
    int met = 0;
    for (int kib = 4 * 1024; kib <= row.mostKib; kib += row.stepKib) {
      if (!Same(within(1, kib), whole)) continue;  // too little for the program itself
      ++met;
      for (const unsigned threads : {2u, 16u}) {
        SCOPED_TRACE("ulimit -v " + std::to_string(kib) + ", " + std::to_string(threads) +
                     " threads");
        ExpectSame(within(threads, kib), whole);
      }
    }
    std::printf("%s: the one-thread walk met %d of the limits\n", row.name, met);
    EXPECT_GT(met, 0) << "no limit below 32 MiB to compare at";
  }
}

// What the churner changes: the tree's directories, the leaves among them, and
// the folder outside the tree that links and mounts bring in.
struct ChurnPlan {
  std::vector<std::string> directories;
  std::vector<std::string> leaves;
  std::string outside;
  bool mayMount = false;
};

// Changes directories until stop, each change undone before the next:
// renamed away, moved a level down, removed and made again (leaves only),
// swapped for a link to the outside folder, the outside folder mounted on it.
void Churn(std::stop_token stop, const ChurnPlan& plan, unsigned seed, std::atomic<long>& changes) {
  std::mt19937 random(seed);
  const auto pause = [&random] { std::this_thread::sleep_for(milliseconds(random() % 3)); };
  for (; !stop.stop_requested(); ++changes) {
    const std::string path = plan.directories[random() % plan.directories.size()];
    const std::string away = path + ".away";
    const std::string deeper = path + ".deeper/" + fs::path(path).filename().string();
    const std::string leaf = plan.leaves[random() % plan.leaves.size()];
    switch (random() % (plan.mayMount ? 5 : 4)) {
      case 0:
        ::rename(path.c_str(), away.c_str());
        pause();
        ::rename(away.c_str(), path.c_str());
        break;
      case 1:
        ::mkdir((path + ".deeper").c_str(), 0755);
        ::rename(path.c_str(), deeper.c_str());
        pause();
        ::rename(deeper.c_str(), path.c_str());
        ::rmdir((path + ".deeper").c_str());
        break;
      case 2:
        RemoveTree(leaf);
        pause();
        ::mkdir(leaf.c_str(), 0755);
        ::close(::open((leaf + "/again").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
        break;
      case 3:
        ::rename(path.c_str(), away.c_str());
        ::symlink(plan.outside.c_str(), path.c_str());
        pause();
        ::unlink(path.c_str());
        ::rename(away.c_str(), path.c_str());
        break;
      case 4:
        if (::mount(plan.outside.c_str(), path.c_str(), nullptr, MS_BIND, nullptr) != 0) break;
        pause();
        // Busy while the tool holds it open: then detached, to go once let go.
        if (::umount(path.c_str()) != 0) ::umount2(path.c_str(), MNT_DETACH);
        break;
    }
  }
}

// What is wrong with a run over the changing tree at top; empty when nothing is.
std::string Fault(const ProcessResult& run, const std::string& top) {
  if (run.exitStatus < 0 || run.exitStatus > 254) {
    return "status " + std::to_string(run.exitStatus) +
           " (killed at the deadline, a signal or a fatal error): " + run.err.substr(0, 600);
  }
  for (const std::string& line : OutputLines(run.out + run.err)) {
    if (line.find(kMarker) != std::string::npos) return "the outside folder was searched: " + line;
  }
  const std::vector<std::string> lines = OutputLines(run.out);
  const std::string count = std::to_string(lines.size() - 2);
  if (lines.size() < 2 ||
      lines.front() != "Recursive search of " + top + " for uncompressed files." ||
      lines.back() != "Found " + count + " uncompressed files in " + count + " items examined. " ||
      run.exitStatus != std::min(static_cast<int>(lines.size()) - 2, 254)) {
    return "header, summary or status " + std::to_string(run.exitStatus) + " wrong for " + count +
           " files: " + run.out.substr(0, 300);
  }
  for (std::size_t i = 1; i + 1 < lines.size(); ++i) {
    if (lines[i].rfind(top + "/", 0) != 0) return "listed outside the tree: " + lines[i];
  }
  for (const std::string& line : OutputLines(run.err)) {
    // A directory mounted over before it was listed is a mount point passed over.
    if (line.find(" not searched (") != std::string::npos) continue;
    if (line.rfind("Packhound: Cannot search " + top + "/", 0) != 0) return "warning: " + line;
  }
  return "";
}

// A random tree of three levels, with more on top than the pipe takes, changed
// all the while it is searched; some runs read late, some are stopped once.
TEST(LiveTreeChurnTest, AChangingTreeNeverHangsCrashesOrLeadsOutside) {
  const char* chosenSeed = std::getenv("PACKHOUND_CHURN_SEED");
  const unsigned seed = chosenSeed != nullptr ? static_cast<unsigned>(std::atoll(chosenSeed))
                                              : std::random_device()();
  const char* chosenSeconds = std::getenv("PACKHOUND_CHURN_SECONDS");
  const int seconds = chosenSeconds != nullptr ? std::max(1, std::atoi(chosenSeconds)) : 20;
  std::printf("seed %u (PACKHOUND_CHURN_SEED), %d s a thread count\n", seed, seconds);

  TempTree world;
  const std::string top = (world / "tree").string();
  world.AddFile("out/" + kMarker);
  world.AddFile("out/inner/" + kMarker);
  for (int i = 0; i < 800; ++i) world.AddFile("tree/" + std::to_string(i) + std::string(100, 'w'));
  std::mt19937 random(seed);
  ChurnPlan plan;
  const auto grow = [&](const auto& self, const std::string& at, int level) -> void {
    for (unsigned i = 0, n = 1 + random() % 3; i < n; ++i)
      world.AddFile(at + "/f" + std::to_string(i));
    if (level == 3) plan.leaves.push_back((world / at).string());
    for (unsigned i = 0, n = level == 3 ? 0 : level == 0 ? 3 : 1 + random() % 3; i < n; ++i) {
      const std::string below = at + "/d" + std::to_string(i);
      world.AddDirectory(below);
      plan.directories.push_back((world / below).string());
      self(self, below, level + 1);
    }
  };
  grow(grow, "tree", 0);
  const std::string mountRefusal = MountRefusal(world);
  if (!mountRefusal.empty()) std::printf("no mounts: %s\n", mountRefusal.c_str());
  plan.outside = (world / "out").string();
  plan.mayMount = mountRefusal.empty();
  const fs::path pidFile = world / "pid";

  std::atomic<long> changes{0};
  // Stopped and joined however the test ends, before the tree goes.
  const std::jthread churner(Churn, std::cref(plan), seed, std::ref(changes));
  for (const unsigned threads : kThreadCounts) {
    const auto end = steady_clock::now() + std::chrono::seconds(seconds);
    int runs = 0;
    for (; steady_clock::now() < end; ++runs) {
      const int kind = runs % 3;  // read at once, read late, stopped once
      const milliseconds wait(random() % 50);
      bool held = false;
      ToolLaunch launch;
      launch.launcher = Launcher(threads, WritePid(pidFile));
      launch.deadlineSeconds = 30;
      launch.watcher = [&](const std::string&) {
        if (held || kind == 0) return;
        held = true;
        const pid_t pid = kind == 2 ? ReadPid(pidFile) : -1;
        if (pid > 0) ::kill(pid, SIGSTOP);
        std::this_thread::sleep_for(wait);
        if (pid > 0) ::kill(pid, SIGCONT);
      };
      fs::remove(pidFile);
      const ProcessResult run =
          RunTool(PACKHOUND_PATH, {"-su", top}, world.Root().string(), launch);
      const std::string fault = Fault(run, top);
      if (!fault.empty()) {
        ADD_FAILURE() << "run " << runs << " on " << threads << " threads, seed " << seed << ": "
                      << fault;
        break;
      }
    }
    std::printf("%u threads: %d runs, %ld changes so far\n", threads, runs, changes.load());
  }
}

}  // namespace
