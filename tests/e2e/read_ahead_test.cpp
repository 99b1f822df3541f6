// The walk gives the same bytes whatever number of threads reads ahead of
// it: random trees of several shapes searched with PACKHOUND_THREADS=1 (the
// walk on one thread) and with 2, 4 or 16 threads give the same standard
// output, standard error and exit status. The one-thread run is itself
// checked against the files the tree was built with. And a walk reading from
// the disk takes on more threads.
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/output_lines.h"
#include "tests/support/temp_tree.h"
#include "tests/support/tool_runner.h"

namespace {

namespace fs = std::filesystem;

enum class Shape { kNested, kWide, kDeep, kLinks, kRights, kMounts };

// Builds a random tree under root and keeps the paths the search must list
// (as "./relative") with -su: every file not below a link, a mount point or
// a directory the user lacks rights to.
class RandomTree {
 public:
  RandomTree(const fs::path& root, Shape shape, unsigned seed) : random(seed), top(root) {
    switch (shape) {
      case Shape::kNested:
        Grow(".", 0, 6, 5, 12);
        break;
      case Shape::kWide:
        // More entries than one batch holds, and enough to share out their statx calls.
        for (int i = 0; i < 2500; ++i)
          File(".", "wide-" + std::string(50, 'n') + std::to_string(i));
        for (int i = 0; i < 300; ++i) {
          const std::string directory = "./d" + std::to_string(i);
          Directory(".", directory.substr(2));
          Grow(directory, 5, 6, 1, 3);
        }
        break;
      case Shape::kDeep: {
        std::string path = ".";
        for (int level = 0; level < 250; ++level) {
          if (Chance(3)) Grow(path, 4, 6, 2, 3);  // side branches along the way
          Directory(path, "v");
          path += "/v";
          if (Chance(2)) File(path, "f");
        }
        break;
      }
      case Shape::kLinks:
        Grow(".", 0, 5, 4, 8);
        for (const std::string& directory : std::vector<std::string>(directories)) {
          if (!Chance(3)) continue;
          Link(directory, "up", "..");
          Link(directory, "self", ".");
          Link(directory, "dangling", "nowhere");  // listed: it leads to no directory
          reachable.push_back(directory + "/dangling");
          if (reachable.empty()) continue;
          // A link to a file is listed as a file; one to a directory is never entered.
          Link(directory, "tofile", (top / reachable.front()).string());
          reachable.push_back(directory + "/tofile");
        }
        break;
      case Shape::kRights:
        Grow(".", 0, 5, 4, 8);
        Restrict(0);     // neither listed nor searched
        Restrict(0444);  // listed, not searched
        Restrict(0111);  // searched, not listed
        break;
      case Shape::kMounts:
        Grow(".", 0, 4, 4, 6);
        Directory(".", "mounted");
        if (::mount("packhound-test", (top / "mounted").c_str(), "tmpfs", 0, "size=1m") != 0) {
          return;
        }
        mountPoint = (top / "mounted").string();
        for (int i = 0; i < 5; ++i)
          fs::create_directories(top / "mounted" / "m" / std::to_string(i));
        TouchOutside("mounted/m/1/inside");
        break;
    }
  }

  ~RandomTree() {
    if (!mountPoint.empty()) ::umount2(mountPoint.c_str(), MNT_DETACH);
    // Give the rights back, so that the tree can be removed.
    for (const std::string& directory : restricted) ::chmod((top / directory).c_str(), 0755);
  }

  bool Mounted() const { return !mountPoint.empty(); }
  std::vector<std::string> Reachable() const { return SortedLines(reachable); }

 private:
  bool Chance(int oneIn) { return std::uniform_int_distribution<int>(1, oneIn)(random) == 1; }
  int Upto(int most) { return std::uniform_int_distribution<int>(0, most)(random); }

  void File(const std::string& directory, const std::string& name) {
    TouchOutside(directory + "/" + name);
    reachable.push_back(directory + "/" + name);
  }
  void TouchOutside(const std::string& relative) {
    const fs::path path = top / relative;
    FILE* file = std::fopen(path.c_str(), "w");
    ASSERT_NE(file, nullptr) << path;
    std::fclose(file);
  }
  void Directory(const std::string& directory, const std::string& name) {
    fs::create_directory(top / directory / name);
    directories.push_back(directory + "/" + name);
  }
  void Link(const std::string& directory, const std::string& name, const std::string& target) {
    fs::create_symlink(target, top / directory / name);
  }

  // Files and subdirectories, each level's count drawn at random.
  void Grow(const std::string& directory, int depth, int maxDepth, int maxDirectories,
            int maxFiles) {
    for (int i = Upto(maxFiles); i > 0; --i) {
      const std::string name = "f" + std::to_string(Upto(99999));
      if (!fs::exists(top / directory / name)) File(directory, name);
    }
    if (depth >= maxDepth) return;
    for (int i = Upto(maxDirectories); i > 0; --i) {
      const std::string name = "d" + std::to_string(Upto(99999));
      if (fs::exists(top / directory / name)) continue;
      Directory(directory, name);
      Grow(directory + "/" + name, depth + 1, maxDepth, maxDirectories, maxFiles);
    }
  }

  // Takes rights away from a random directory, whose files are then not listed.
  void Restrict(mode_t mode) {
    if (directories.empty()) return;
    const std::string chosen = directories[Upto(static_cast<int>(directories.size()) - 1)];
    for (const std::string& directory : restricted) {
      if (chosen.rfind(directory + "/", 0) == 0 || directory.rfind(chosen + "/", 0) == 0) return;
    }
    ::chmod((top / chosen).c_str(), mode);
    restricted.push_back(chosen);
    std::erase_if(reachable,
                  [&](const std::string& file) { return file.rfind(chosen + "/", 0) == 0; });
  }

  std::mt19937 random;
  fs::path top;
  std::vector<std::string> reachable;
  std::vector<std::string> directories;
  std::vector<std::string> restricted;
  std::string mountPoint;
};

// One row: a tree of one shape, searched with one set of options on one
// thread, then with each of the thread counts.
struct SameBytesRow {
  const char* name;
  Shape shape;
  unsigned seed;
  std::vector<std::string> options;
  std::vector<unsigned> threads;
};

// The options whose output lists every file reachable, and the summary.
const std::vector<std::string> kListing = {"-su", "-nh"};

class ReadAheadTest : public testing::Test {
 protected:
  void SetUp() override {
    toolPath = ToolForAnyUser(PACKHOUND_PATH, toolFolder.Root().string());
    ::chmod(tree.Root().c_str(), 0755);
  }

  // refused: openat2 refused with that errno ("EPERM", "ENOSYS"), as under a
  // container profile that predates it; "": not refused.
  ProcessResult Run(const std::vector<std::string>& arguments, unsigned threads,
                    const std::string& refused = "") {
    ToolLaunch launch;
    // As an ordinary user, for whom rights count.
    launch.launcher = AsNobody();
    const std::vector<std::string> threadWords = WithThreads(threads);
    launch.launcher.insert(launch.launcher.end(), threadWords.begin(), threadWords.end());
    if (!refused.empty()) {
      launch.launcher.insert(launch.launcher.end(), {seccompPath, refused, "openat2"});
    }
    return RunTool(toolPath, arguments, tree.Root().string(), launch);
  }

  void ExpectTheBytesOfOneThread(const SameBytesRow& row, const RandomTree& built);

  TempTree toolFolder;
  TempTree tree;
  std::string toolPath;
  // A copy every user may run, as the tool's.
  std::string seccompPath = CopyForAnyUser(PACKHOUND_SECCOMP_PATH);

 private:
  std::string CopyForAnyUser(const std::string& program) {
    const fs::path copy = toolFolder.Root() / fs::path(program).filename();
    fs::copy_file(program, copy);
    return copy.string();
  }
};

void ReadAheadTest::ExpectTheBytesOfOneThread(const SameBytesRow& row, const RandomTree& built) {
  const ProcessResult one = Run(row.options, 1);
  if (row.options == kListing) {
    // The reference itself: every file reachable, each once.
    std::vector<std::string> listed = OutputLines(one.out);
    ASSERT_FALSE(listed.empty());
    listed.pop_back();  // the summary
    EXPECT_EQ(SortedLines(listed), built.Reachable());
  }
  for (const unsigned threads : row.threads) {
    SCOPED_TRACE(std::to_string(threads) + " threads");
    const ProcessResult many = Run(row.options, threads);
    EXPECT_TRUE(many.out == one.out) << many.out.substr(0, 2000);
    EXPECT_EQ(many.err, one.err);
    EXPECT_EQ(many.exitStatus, one.exitStatus);
  }
}

// Two threads are the walk's and one worker; 16, more workers than the tree
// keeps busy. The listing runs on every shape; the options that print
// otherwise (no recursion, the summary alone, full paths) once each.
TEST_F(ReadAheadTest, EveryThreadCountGivesTheBytesOfTheWalkOnOneThread) {
  const SameBytesRow rows[] = {
      {"nested", Shape::kNested, 1, kListing, {2, 16}},
      {"nested, not recursive", Shape::kNested, 2, {"-su", "-nr"}, {4}},
      {"nested, summary only", Shape::kNested, 2, {"-so"}, {4}},
      // Batches whose statx calls are shared out between threads.
      {"wide", Shape::kWide, 3, kListing, {2, 4, 16}},
      {"deep", Shape::kDeep, 4, kListing, {4, 16}},
      {"deep, full paths", Shape::kDeep, 4, {"-fp", "-su", "-ns"}, {2}},
      {"links", Shape::kLinks, 5, kListing, {4, 16}},
      {"rights", Shape::kRights, 6, kListing, {2, 16}},
  };
  for (const SameBytesRow& row : rows) {
    SCOPED_TRACE(row.name);
    fs::remove_all(tree.Root());
    fs::create_directory(tree.Root());
    ::chmod(tree.Root().c_str(), 0755);
    const RandomTree built(tree.Root(), row.shape, row.seed);
    ExpectTheBytesOfOneThread(row, built);
  }
}

// Where openat2 is refused (EPERM from a container profile that predates it,
// ENOSYS from an old kernel), the walk opens each directory a name at a time
// and gives the bytes of the walk with it, on one thread and on four.
TEST_F(ReadAheadTest, WithoutOpenat2EveryShapeGivesTheBytesOfTheWalkWithIt) {
  const struct {
    const char* name;
    Shape shape;
  } shapes[] = {{"nested", Shape::kNested},
                {"deep", Shape::kDeep},
                {"links", Shape::kLinks},
                {"rights", Shape::kRights},
                {"mounts", Shape::kMounts}};
  for (const auto& shape : shapes) {
    SCOPED_TRACE(shape.name);
    fs::remove_all(tree.Root());
    fs::create_directory(tree.Root());
    ::chmod(tree.Root().c_str(), 0755);
    const RandomTree built(tree.Root(), shape.shape, 11);
    const ProcessResult with = Run(kListing, 1);
    ASSERT_GT(with.exitStatus, 0) << with.err;
    for (const char* refused : {"EPERM", "ENOSYS"}) {
      for (const unsigned threads : {1u, 4u}) {
        SCOPED_TRACE(std::string(refused) + ", " + std::to_string(threads) + " threads");
        const ProcessResult without = Run(kListing, threads, refused);
        EXPECT_TRUE(without.out == with.out) << without.out.substr(0, 2000) << without.err;
        EXPECT_EQ(without.err, with.err);
        EXPECT_EQ(without.exitStatus, with.exitStatus);
      }
    }
  }
}

TEST_F(ReadAheadTest, AMountPointGivesTheBytesOfTheWalkOnOneThread) {
  const RandomTree built(tree.Root(), Shape::kMounts, 7);
  if (!built.Mounted()) GTEST_SKIP() << "no file system can be mounted here";
  ExpectTheBytesOfOneThread({"mount point", Shape::kMounts, 7, kListing, {4, 16}}, built);
}

// The field after the command of /proc/<pid>/stat at index (0: the state,
// 1: the parent's pid); empty when the process is gone.
std::string StatField(pid_t pid, int index) {
  std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
  std::string text;
  std::getline(file, text);
  const std::size_t command = text.rfind(')');
  if (command == std::string::npos) return "";
  std::istringstream fields(text.substr(command + 1));
  std::string field;
  for (int i = 0; i <= index; ++i) fields >> field;
  return field;
}

pid_t ParentOf(pid_t pid) { return static_cast<pid_t>(std::atol(StatField(pid, 1).c_str())); }

// The tool this test started: the child of the deadline command, which is
// this process's child (other jobs run the same program at the same time).
// 0 until it runs.
pid_t StartedTool() {
  std::error_code error;
  const fs::path tool = fs::canonical(PACKHOUND_PATH);
  for (const fs::directory_entry& process : fs::directory_iterator("/proc", error)) {
    const pid_t pid = static_cast<pid_t>(std::atol(process.path().filename().c_str()));
    if (pid <= 0 || ParentOf(ParentOf(pid)) != ::getpid()) continue;
    if (fs::read_symlink(process.path() / "exe", error) == tool) return pid;
  }
  return 0;
}

// Whether the main thread of pid sleeps in a write to its standard output:
// the pipe is full. It then starts no thread until the pipe is read.
bool BlockedWritingItsOutput(pid_t pid) {
  std::ifstream file("/proc/" + std::to_string(pid) + "/syscall");
  long number = -1;
  std::string descriptor;
  if (!(file >> number >> descriptor)) return false;  // "running"
  return (number == SYS_write || number == SYS_writev) && descriptor == "0x1" &&
         StatField(pid, 0) == "S";
}

int ThreadsOf(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("Threads:", 0) == 0) return std::atoi(line.c_str() + 8);
  }
  return 0;
}

int Cores() {
  cpu_set_t cores;
  CPU_ZERO(&cores);
  return ::sched_getaffinity(0, sizeof cores, &cores) == 0 ? CPU_COUNT(&cores) : 1;
}

// A walk that finds itself reading from the disk (a cold cache) takes on
// four threads a core, to keep more reads in flight; on a warm cache it keeps
// one a core. Counted once the tool waits for its reader: after the first
// output the test reads nothing until the listing, far longer than what a
// pipe and one read hold, has filled the pipe.
TEST(ReadAheadThreadsTest, AWalkThatReadsFromTheDiskTakesOnMoreThreads) {
  TempTree tree;
  struct statfs where;
  if (::access("/proc/sys/vm/drop_caches", W_OK) != 0 || std::getenv("PACKHOUND_TEST_WRAPPER")) {
    GTEST_SKIP() << "needs root to drop the page cache, and the tool run bare";
  }
  if (::statfs(tree.Root().c_str(), &where) != 0 || where.f_type == 0x01021994) {
    GTEST_SKIP() << "the temporary folder is not on a disk";
  }
  // 400 directories, 2,000 lines of about 110 bytes.
  for (int top = 0; top < 20; ++top) {
    for (int below = 0; below < 20; ++below) {
      const std::string directory = "t" + std::to_string(top) + "/b" + std::to_string(below);
      for (int file = 0; file < 5; ++file) {
        tree.AddFile(directory + "/" + std::string(100, 'f') + std::to_string(file));
      }
    }
  }
  // The threads while the tool waits for its reader, the cache warm or cold.
  const auto threadsWhileListing = [&tree](bool cold) {
    SCOPED_TRACE(cold ? "cold" : "warm");
    if (cold) {
      EXPECT_EQ(std::system("sync; echo 3 > /proc/sys/vm/drop_caches"), 0);
    }
    int threads = -1;
    ToolLaunch launch;
    launch.launcher = {"/usr/bin/env", "-u", "PACKHOUND_THREADS"};  // the default count
    launch.watcher = [&threads](const std::string&) {
      if (threads != -1) return;
      threads = 0;
      // Polled, since nothing tells of a pipe filling; bounded by the deadline.
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
      for (;;) {
        const pid_t tool = StartedTool();
        if (tool != 0 && BlockedWritingItsOutput(tool)) {
          threads = ThreadsOf(tool);
          return;
        }
        if (std::chrono::steady_clock::now() > deadline) {
          ADD_FAILURE() << (tool == 0 ? "the tool ended" : "the tool never filled the pipe");
          return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
    };
    const ProcessResult result =
        RunTool(PACKHOUND_PATH, {"-su", "-nh", "-ns"}, tree.Root(), launch);
    EXPECT_EQ(result.exitStatus, 254);  // 2,000 listed, clamped
    return threads;
  };
  const int cores = Cores() < 64 ? Cores() : 64;
  const int diskThreads = cores == 1 ? 1 : (4 * cores < 64 ? 4 * cores : 64);
  const int warm = threadsWhileListing(false);
  const int cold = threadsWhileListing(true);
  // A tool built with a sanitizer may run one thread of its own, in both runs.
  EXPECT_GE(warm, cores);
  EXPECT_LE(warm, cores + 1);
  EXPECT_EQ(cold - warm, diskThreads - cores);
}

}  // namespace
