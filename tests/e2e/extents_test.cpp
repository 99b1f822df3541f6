// "--extents" end to end, on file systems made for the test on loop devices:
// btrfs mounted to compress, where files are stored compressed with no
// attribute to say so, and ext4 and tmpfs, where nothing changes. Needs
// root (to mount) and the file system tools; skipped with the reason where
// either is missing.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/output_lines.h"
#include "tests/support/posix/held_run.h"
#include "tests/support/posix/loop_file_system.h"
#include "tests/support/temp_tree.h"
#include "tests/support/tool_runner.h"

namespace fs = std::filesystem;

namespace {

void Write(const fs::path& path, const std::string& data, off_t at = 0) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  ASSERT_GE(fd, 0) << path;
  ASSERT_EQ(::pwrite(fd, data.data(), data.size(), at), static_cast<ssize_t>(data.size()));
  ::close(fd);
}

std::string Compressible(std::size_t size) {
  std::string data;
  while (data.size() < size) data += "the same words again and again, ";
  data.resize(size);
  return data;
}

std::string Incompressible(std::size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string data(size, '\0');
  for (char& byte : data) byte = static_cast<char>(random());
  return data;
}

// The files each case makes, every kind of storage the option must tell apart.
void MakeFiles(const fs::path& top) {
  fs::create_directories(top / "sub" / "deeper");
  Write(top / "compressible", Compressible(1 << 20));
  Write(top / "incompressible", Incompressible(1 << 20, 1));
  Write(top / "small", Compressible(300));  // stored inline on btrfs
  Write(top / "empty", "");
  ::truncate((top / "sparse").c_str(), 8 << 20);
  Write(top / "sparse", Compressible(256 << 10), 4 << 20);
  Write(top / "partly", Compressible(512 << 10));
  Write(top / "partly", Incompressible(512 << 10, 2), 512 << 10);
  Write(top / "sub" / "text", Compressible(200 << 10));
  Write(top / "sub" / "deeper" / "noise", Incompressible(200 << 10, 3));
  Write(top / "sub" / "marked", Incompressible(100 << 10, 4));
  Succeeds("chattr +c " + (top / "sub" / "marked").string());
  Write(top / "sub" / "marked", Compressible(100 << 10), 100 << 10);
  // More extents than one call asks for: forty pieces with holes between
  // them, none compressible, and the same with a compressible one last.
  for (unsigned i = 0; i < 40; ++i) {
    Write(top / "pieces", Incompressible(4 << 10, 100 + i), off_t{i} * (64 << 10));
    Write(top / "pieces then text", Incompressible(4 << 10, 200 + i), off_t{i} * (64 << 10));
  }
  Write(top / "pieces then text", Compressible(128 << 10), off_t{40} * (64 << 10));
  // More extents than one search of the file system's records returns.
  for (unsigned i = 0; i < 250; ++i) {
    Write(top / "long map then text", Incompressible(4 << 10, 300 + i), off_t{i} * (64 << 10));
  }
  Write(top / "long map then text", Compressible(128 << 10), off_t{250} * (64 << 10));
  // More than one batch's statx calls are shared out among the threads.
  fs::create_directories(top / "many");
  for (unsigned i = 0; i < 300; ++i) {
    Write(top / "many" / std::to_string(i),
          i % 3 == 0 ? Incompressible(8 << 10, 10 + i) : Compressible(8 << 10));
  }
  ::mkfifo((top / "fifo").c_str(), 0644);  // no writer: an open without O_NONBLOCK would wait
  ::mknod((top / "device").c_str(), S_IFCHR | 0644, makedev(1, 3));
  ::sync();  // compressed as it is written out: the extents are final after this
}

// The oracle: the regular files filefrag says have an encoded extent, or
// that carry the compressed attribute (lsattr), as the tool names them
// from top; and every non-directory, as "-su" would list them all.
struct Oracle {
  std::set<std::string> compressed;
  std::set<std::string> files;
};

bool Says(const std::string& command, const std::string& word) {
  FILE* pipe = ::popen((command + " 2>/dev/null").c_str(), "r");
  if (pipe == nullptr) return false;
  std::string out;
  char chunk[4096];
  for (std::size_t got; (got = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;)
    out.append(chunk, got);
  ::pclose(pipe);
  return out.find(word) != std::string::npos;
}

Oracle Ask(const fs::path& top) {
  Oracle oracle;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(top)) {
    if (entry.is_directory()) continue;
    const std::string name = "./" + fs::relative(entry.path(), top).string();
    oracle.files.insert(name);
    if (!entry.is_regular_file()) continue;
    const std::string quoted = "'" + entry.path().string() + "'";
    if (Says("filefrag -v " + quoted, "encoded") ||
        Says("lsattr -d " + quoted + " | cut -d' ' -f1", "c")) {
      oracle.compressed.insert(name);
    }
  }
  return oracle;
}

// The files a run listed (no header, no summary).
std::set<std::string> Listed(const ProcessResult& run) {
  const std::vector<std::string> lines = OutputLines(run.out);
  return std::set<std::string>(lines.begin(), lines.end());
}

std::set<std::string> Without(std::set<std::string> all, const std::set<std::string>& some) {
  for (const std::string& one : some) all.erase(one);
  return all;
}

// Counts opens of the files watched, through inotify, while a run goes on.
class OpenWatch {
 public:
  explicit OpenWatch(const std::vector<fs::path>& files) {
    fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    for (const fs::path& file : files) {
      const int watch = ::inotify_add_watch(fd, file.c_str(), IN_OPEN);
      if (watch >= 0) names[watch] = file.filename().string();
    }
  }
  ~OpenWatch() { ::close(fd); }
  OpenWatch(const OpenWatch&) = delete;
  OpenWatch& operator=(const OpenWatch&) = delete;

  // The names opened since the watch began.
  std::set<std::string> Opened() {
    std::set<std::string> opened;
    alignas(struct inotify_event) char events[4096];
    for (ssize_t got; (got = ::read(fd, events, sizeof events)) > 0;) {
      for (ssize_t at = 0; at < got;) {
        const auto* event = reinterpret_cast<const struct inotify_event*>(events + at);
        opened.insert(names[event->wd]);
        at += static_cast<ssize_t>(sizeof *event + event->len);
      }
    }
    return opened;
  }

 private:
  int fd;
  std::map<int, std::string> names;
};

class ExtentsTest : public testing::Test {
 protected:
  ProcessResult Run(const fs::path& top, std::vector<std::string> arguments, unsigned threads,
                    bool asNobody = false, int descriptors = 0) {
    ToolLaunch launch;
    if (asNobody) launch.launcher = AsNobody();
    if (descriptors > 0) {
      const std::string limit = std::to_string(descriptors);
      launch.launcher.insert(launch.launcher.end(),
                             {"/usr/bin/prlimit", "--nofile=" + limit + ":" + limit, "--"});
    }
    const std::vector<std::string> threadWords = WithThreads(threads);
    launch.launcher.insert(launch.launcher.end(), threadWords.begin(), threadWords.end());
    arguments.insert(arguments.end(), {"-nh", "-ns", "."});
    return RunTool(tool, arguments, top.string(), launch);
  }

  TempTree toolFolder;
  const std::string tool = ToolForAnyUser(PACKHOUND_PATH, toolFolder.Root().string());
};

TEST_F(ExtentsTest, OnBtrfsAFileStoredCompressedCountsAsCompressed) {
  const LoopFileSystem btrfs("btrfs", "compress=zstd");
  if (!btrfs.whyNot.empty()) GTEST_SKIP() << btrfs.whyNot;
  if (!Succeeds("command -v filefrag")) GTEST_SKIP() << "filefrag is not installed";
  const fs::path top = btrfs.mountPoint;
  MakeFiles(top);
  const Oracle oracle = Ask(top);
  ASSERT_TRUE(oracle.compressed.count("./compressible")) << "btrfs compressed nothing";
  ASSERT_FALSE(oracle.compressed.count("./incompressible"));
  ASSERT_FALSE(oracle.compressed.count("./pieces"));
  ASSERT_TRUE(oracle.compressed.count("./pieces then text")) << "its last extent is encoded";
  ASSERT_TRUE(oracle.compressed.count("./long map then text"));

  OpenWatch watch({top / "fifo", top / "device"});
  // Root asks the file system's records; anyone else opens the file for FIEMAP.
  for (const bool asNobody : {false, true}) {
    if (asNobody && AsNobody().empty()) continue;
    for (const unsigned threads : {1u, 4u}) {
      SCOPED_TRACE(std::string(asNobody ? "as nobody, " : "as root, ") + std::to_string(threads) +
                   " threads");
      const ProcessResult compressed = Run(top, {"--extents"}, threads, asNobody);
      EXPECT_EQ(Listed(compressed), oracle.compressed);
      EXPECT_EQ(compressed.err, "");
      EXPECT_EQ(compressed.exitStatus, static_cast<int>(oracle.compressed.size()));
      const ProcessResult rest = Run(top, {"-su", "--extents"}, threads, asNobody);
      EXPECT_EQ(Listed(rest), Without(oracle.files, oracle.compressed));
      EXPECT_EQ(rest.err, "");
      // Without the option, the attribute alone.
      EXPECT_EQ(Listed(Run(top, {}, threads, asNobody)), std::set<std::string>{"./sub/marked"});
    }
  }
  EXPECT_EQ(watch.Opened(), std::set<std::string>{}) << "a FIFO or a device was opened";
}

// A file the user may not read cannot be asked about: it is judged by its
// attribute, and the run says how many were, once, at its end. Without the
// attribute nothing says how it is stored: -su does not list it either.
TEST_F(ExtentsTest, AFileThatCannotBeOpenedIsJudgedByItsAttributeAndCounted) {
  const LoopFileSystem btrfs("btrfs", "compress=zstd");
  if (!btrfs.whyNot.empty()) GTEST_SKIP() << btrfs.whyNot;
  if (AsNobody().empty()) GTEST_SKIP() << "needs another user";
  const fs::path top = btrfs.mountPoint;
  Write(top / "readable", Compressible(1 << 20));
  Write(top / "closed", Compressible(1 << 20));
  Write(top / "closed too", Compressible(1 << 20));
  ::chmod((top / "closed").c_str(), 0);
  ::chmod((top / "closed too").c_str(), 0200);
  ::sync();
  for (const unsigned threads : {1u, 4u}) {
    SCOPED_TRACE(std::to_string(threads) + " threads");
    const ProcessResult run = Run(top, {"--extents"}, threads, true);
    EXPECT_EQ(Listed(run), std::set<std::string>{"./readable"});
    EXPECT_EQ(run.err, "Packhound: 2 files could not be opened; their attribute alone was used.\n");
    EXPECT_EQ(run.exitStatus, 1);
    const ProcessResult rest = Run(top, {"-su", "--extents"}, threads, true);
    EXPECT_EQ(Listed(rest), std::set<std::string>{});
    EXPECT_EQ(rest.err,
              "Packhound: 2 files could not be opened; their attribute alone was used.\n");
  }
}

// A question takes two descriptors at a time (the file found, then opened)
// and the run one more (the descriptor folder): a few more than the walk's.
#if defined(__SANITIZE_ADDRESS__)
// The sanitizers' runtime needs descriptors of its own to check the program:
// with a handful free it reports faults the tool does not have.
constexpr int kDescriptorLimits[] = {26, 30};
#else
constexpr int kDescriptorLimits[] = {10, 14};
#endif

// Short of descriptors, a worker that cannot open a file to ask about it
// leaves the batch to the walk, and the walk's own thread lets go of what
// is read ahead until it can: every thread count judges the files as the
// walk on one thread does.
TEST_F(ExtentsTest, ShortOfDescriptorsEveryThreadCountJudgesAsOneThreadDoes) {
  const LoopFileSystem btrfs("btrfs", "compress=zstd");
  if (!btrfs.whyNot.empty()) GTEST_SKIP() << btrfs.whyNot;
  if (!Succeeds("command -v /usr/bin/prlimit")) GTEST_SKIP() << "prlimit is not installed";
  if (std::getenv("PACKHOUND_TEST_WRAPPER") != nullptr)
    GTEST_SKIP() << "a wrapper needs descriptors";
  const fs::path top = btrfs.mountPoint;
  for (unsigned directory = 0; directory < 8; ++directory) {
    for (unsigned file = 0; file < 300; ++file) {
      const fs::path path = top / ("d" + std::to_string(directory)) / std::to_string(file);
      fs::create_directories(path.parent_path());
      Write(path, file % 2 == 0 ? Compressible(8 << 10) : Incompressible(8 << 10, file));
    }
  }
  ::sync();
  for (const int descriptors : kDescriptorLimits) {
    SCOPED_TRACE(std::to_string(descriptors) + " descriptors");
    const ProcessResult one = Run(top, {"--extents"}, 1, false, descriptors);
    EXPECT_EQ(one.err, "");
    EXPECT_EQ(one.exitStatus, 254) << "1,200 compressed, clamped";
    for (const unsigned threads : {2u, 4u, 16u}) {
      SCOPED_TRACE(std::to_string(threads) + " threads");
      const ProcessResult many = Run(top, {"--extents"}, threads, false, descriptors);
      EXPECT_EQ(Listed(many), Listed(one));
      EXPECT_EQ(many.err, one.err);
      EXPECT_EQ(many.exitStatus, one.exitStatus);
    }
  }
}

// A file of elsewhere mounted over an entry of the tree is not the file the
// listing named: it is never opened, nor the entry judged by the other
// file's extents; the entry is judged by its attribute, and counted so.
TEST_F(ExtentsTest, AFileMountedOverAnEntryIsNeverOpened) {
  const LoopFileSystem btrfs("btrfs", "compress=zstd");
  if (!btrfs.whyNot.empty()) GTEST_SKIP() << btrfs.whyNot;
  const fs::path top = btrfs.mountPoint;
  fs::create_directories(top / "tree");
  fs::create_directories(top / "outside");
  Write(top / "tree/victim", Incompressible(1 << 20, 7));
  Write(top / "tree/compressible", Compressible(1 << 20));
  Write(top / "outside/compressible", Compressible(1 << 20));
  ::sync();
  if (::mount((top / "outside/compressible").c_str(), (top / "tree/victim").c_str(), nullptr,
              MS_BIND, nullptr) != 0) {
    GTEST_SKIP() << "a file cannot be bind-mounted here";
  }
  struct Unmount {
    fs::path point;
    ~Unmount() { ::umount2(point.c_str(), MNT_DETACH); }
  } unmount{top / "tree/victim"};
  OpenWatch watch({top / "outside/compressible"});
  for (const unsigned threads : {1u, 4u}) {
    SCOPED_TRACE(std::to_string(threads) + " threads");
    const ProcessResult run = Run(top / "tree", {"--extents"}, threads);
    EXPECT_EQ(Listed(run), std::set<std::string>{"./compressible"});
    EXPECT_EQ(run.err, "Packhound: 1 file could not be opened; its attribute alone was used.\n");
  }
  EXPECT_EQ(watch.Opened(), std::set<std::string>{}) << "the file mounted over it was opened";
}

// A FIFO put in place of a file between its listing and the query, while the
// walk is held there, is never opened: a writer waiting for a reader of it
// waits on.
TEST_F(ExtentsTest, AFifoSwappedInBeforeTheQueryIsNeverOpened) {
  const LoopFileSystem btrfs("btrfs", "compress=zstd");
  if (!btrfs.whyNot.empty()) GTEST_SKIP() << btrfs.whyNot;
  const fs::path top = btrfs.mountPoint;
  for (const unsigned threads : {1u, 4u}) {
    SCOPED_TRACE(std::to_string(threads) + " threads");
    fs::remove(top / "victim");
    Write(top / "victim", Compressible(1 << 20));
    ::sync();
    std::atomic<bool> released{false};
    std::thread writer;
    bool held = false;
    const ProcessResult run = RunHeld(
        PACKHOUND_HELD_PATH, {"--extents", "-nh", "-ns", "."}, top.string(), threads,
        "asking-how-stored", "victim",
        [&] {
          fs::rename(top / "victim", top / "away");
          ::mkfifo((top / "victim").c_str(), 0644);
          writer = std::thread([&] {
            const int fd = ::open((top / "victim").c_str(), O_WRONLY | O_CLOEXEC);
            released = true;
            if (fd >= 0) ::close(fd);
          });
        },
        held);
    ASSERT_TRUE(held) << run.err;
    EXPECT_FALSE(released) << "the FIFO was opened";
    // Lets the writer go, whatever happened.
    const int reader = ::open((top / "victim").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    writer.join();
    ::close(reader);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "Packhound: 1 file could not be opened; its attribute alone was used.\n");
    fs::remove(top / "away");
  }
}

// Where no file is stored compressed without the attribute, the option
// costs nothing: no file is opened, and the output is the output without it.
TEST_F(ExtentsTest, OnExt4AndTmpfsNoFileIsOpenedAndNothingChanges) {
  for (const char* type : {"ext4", "tmpfs"}) {
    SCOPED_TRACE(type);
    const LoopFileSystem other(type, "rw");
    if (!other.whyNot.empty()) GTEST_SKIP() << other.whyNot;
    const fs::path top = other.mountPoint;
    MakeFiles(top);
    std::vector<fs::path> files;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(top)) {
      if (!entry.is_directory()) files.push_back(entry.path());
    }
    for (const unsigned threads : {1u, 4u}) {
      for (const std::vector<std::string>& options :
           {std::vector<std::string>{}, std::vector<std::string>{"-su"}}) {
        const ProcessResult plain = Run(top, options, threads);
        OpenWatch watch(files);
        std::vector<std::string> withExtents = options;
        withExtents.push_back("--extents");
        const ProcessResult run = Run(top, withExtents, threads);
        EXPECT_EQ(watch.Opened(), std::set<std::string>{});
        EXPECT_EQ(run.out, plain.out);
        EXPECT_EQ(run.err, plain.err);
        EXPECT_EQ(run.exitStatus, plain.exitStatus);
      }
    }
  }
}

}  // namespace
