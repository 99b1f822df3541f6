// NTFS volumes on Linux: an image made by mkntfs and mounted with ntfs-3g
// for the test (root and FUSE; skipped with the reason where either is
// missing). Each file's compressed attribute comes from NTFS itself, as
// getfattr reads it, for both searches, on one thread and on four, as root
// and as another user; with --extents, a file Windows stores compressed
// through its overlay filter counts too.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/output_lines.h"
#include "tests/support/posix/loop_file_system.h"
#include "tests/support/temp_tree.h"
#include "tests/support/tool_runner.h"

namespace fs = std::filesystem;

namespace {

constexpr unsigned long kCompressed = 0x800;
// An overlay-compressed file's reparse data: the tag 0x80000017, 16 bytes of
// data, the overlay's version and provider (a file's), and that provider's
// version and algorithm.
constexpr char kOverlayReparseData[] = "0x170000801000000001000000020000000100000000000000";

std::string Output(const std::string& command) {
  std::string out;
  FILE* pipe = ::popen((command + " 2>/dev/null").c_str(), "r");
  if (pipe == nullptr) return out;
  char chunk[4096];
  for (std::size_t got; (got = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;) {
    out.append(chunk, got);
  }
  ::pclose(pipe);
  return out;
}

std::string Quoted(const fs::path& path) {
  std::string quoted = "'";
  for (const char c : path.string()) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

void Write(const fs::path& path, const std::string& data) {
  fs::create_directories(path.parent_path());
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  ASSERT_GE(fd, 0) << path;
  ASSERT_EQ(::write(fd, data.data(), data.size()), static_cast<ssize_t>(data.size()));
  ::close(fd);
}

std::string Text(std::size_t size) {
  std::string data;
  while (data.size() < size) data += "the same words again and again, ";
  data.resize(size);
  return data;
}

// Sets the NTFS attributes of path (a link's own).
bool Mark(const fs::path& path, unsigned long bits) {
  char value[16];
  std::snprintf(value, sizeof value, "0x%08lx", bits);
  return Succeeds("setfattr -h -n system.ntfs_attrib_be -v " + std::string(value) + " " +
                  Quoted(path));
}

// What getfattr says of every entry below top but the directories: its
// name as the tool lists it from top, and its NTFS attributes.
std::map<std::string, unsigned long> AsGetfattrSays(const fs::path& top) {
  std::map<std::string, unsigned long> said;
  std::istringstream lines(
      Output("cd " + Quoted(top) + " && getfattr -R -h -e hex -n system.ntfs_attrib_be ."));
  std::string name;
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("# file: ", 0) == 0) name = line.substr(8);
    const std::string key = "system.ntfs_attrib_be=";
    if (line.rfind(key, 0) == 0 && !fs::is_directory(fs::symlink_status(top / name))) {
      said["./" + name] = std::stoul(line.substr(key.size()), nullptr, 16);
    }
  }
  return said;
}

std::set<std::string> Listed(const ProcessResult& run) {
  const std::vector<std::string> lines = OutputLines(run.out);
  return std::set<std::string>(lines.begin(), lines.end());
}

class NtfsVolumeTest : public testing::Test {
 protected:
  ProcessResult Run(std::vector<std::string> arguments, unsigned threads, bool asNobody,
                    const fs::path& top) {
    ToolLaunch launch;
    if (asNobody) launch.launcher = AsNobody();
    const std::vector<std::string> threadWords = WithThreads(threads);
    launch.launcher.insert(launch.launcher.end(), threadWords.begin(), threadWords.end());
    arguments.insert(arguments.end(), {"-nh", "-ns", "."});
    return RunTool(tool, arguments, top.string(), launch);
  }

  TempTree toolFolder;
  const std::string tool = ToolForAnyUser(PACKHOUND_PATH, toolFolder.Root().string());
};

TEST_F(NtfsVolumeTest, EachFileIsCompressedAsNtfsSays) {
  const LoopFileSystem ntfs("ntfs", "compression", "64M");
  if (!ntfs.whyNot.empty()) GTEST_SKIP() << ntfs.whyNot;
  if (!Succeeds("command -v getfattr") || !Succeeds("command -v setfattr")) {
    GTEST_SKIP() << "getfattr and setfattr (attr) are not installed";
  }
  const fs::path top = ntfs.mountPoint;
  // Before any bit was set; then a compressed directory and what is made in
  // it afterwards; a directory whose bit is set halfway.
  Write(top / "plain", Text(64 << 10));
  fs::create_directory(top / "packed");
  ASSERT_TRUE(Mark(top / "packed", 0x810));
  Write(top / "packed/text", Text(200 << 10));
  Write(top / "packed/tiny", "t");
  Write(top / "packed/empty", "");
  Write(top / ("packed/" + std::string("\xc3\xbc") + "n" + "\xc3\xaf" + "c"), Text(10 << 10));
  Write(top / "packed/-dash", Text(10 << 10));
  Write(top / "packed/deep/a/b/c/d/leaf", Text(20 << 10));
  Write(top / "packed/sparse", "");
  ASSERT_EQ(::truncate((top / "packed/sparse").c_str(), 8 << 20), 0);
  Write(top / "half/before", Text(20 << 10));
  ASSERT_TRUE(Mark(top / "half", 0x810));
  Write(top / "half/after", Text(20 << 10));
  fs::create_hard_link(top / "packed/text", top / "hard");
  fs::create_symlink("packed/text", top / "link");  // its own attribute is the link's
  Write(top / "overlay", "");
  ASSERT_TRUE(Succeeds("setfattr -h -n system.ntfs_reparse_data -v " +
                       std::string(kOverlayReparseData) + " " + Quoted(top / "overlay")));
  // ntfs-3g shows a reparse point it cannot read as a link once it reads it
  // afresh.
  ASSERT_TRUE(ntfs.Remount());

  const std::map<std::string, unsigned long> said = AsGetfattrSays(top);
  std::set<std::string> compressed;
  std::set<std::string> files;
  for (const auto& [name, bits] : said) {
    files.insert(name);
    if ((bits & kCompressed) != 0) compressed.insert(name);
  }
  ASSERT_TRUE(compressed.count("./packed/text") && compressed.count("./hard") &&
              compressed.count("./half/after"))
      << "ntfs-3g compressed nothing";
  ASSERT_FALSE(compressed.count("./half/before"));
  ASSERT_TRUE(files.count("./overlay") && !compressed.count("./overlay"));
  const std::string count = std::to_string(compressed.size());
  for (const bool asNobody : {false, true}) {
    if (asNobody && AsNobody().empty()) continue;
    for (const unsigned threads : {1u, 4u}) {
      SCOPED_TRACE(std::string(asNobody ? "as nobody, " : "as root, ") + std::to_string(threads) +
                   " threads");
      const ProcessResult found = Run({}, threads, asNobody, top);
      EXPECT_EQ(Listed(found), compressed);
      EXPECT_EQ(found.err, "");
      EXPECT_EQ(found.exitStatus, static_cast<int>(compressed.size()));
      const ProcessResult rest = Run({"-su"}, threads, asNobody, top);
      std::set<std::string> uncompressed;
      for (const std::string& name : files) {
        if (!compressed.count(name)) uncompressed.insert(name);
      }
      EXPECT_EQ(Listed(rest), uncompressed);
      EXPECT_EQ(rest.exitStatus, static_cast<int>(uncompressed.size()));
      // Stored compressed by the overlay, with no attribute to say so.
      std::set<std::string> stored = compressed;
      stored.insert("./overlay");
      EXPECT_EQ(Listed(Run({"--extents"}, threads, asNobody, top)), stored);
      uncompressed.erase("./overlay");
      EXPECT_EQ(Listed(Run({"-su", "--extents"}, threads, asNobody, top)), uncompressed);
      const ProcessResult summary = RunTool(tool, {"-so", "."}, top.string(), {});
      EXPECT_NE(summary.out.find("Found " + count + " compressed files in " +
                                 std::to_string(files.size()) + " items examined."),
                std::string::npos)
          << summary.out;
    }
  }
}

}  // namespace
