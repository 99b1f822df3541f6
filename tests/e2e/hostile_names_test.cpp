// Names no file system forbids but tools trip over: every byte from 1 to 255
// except "/", alone and all in one name, listed byte for byte; and symbolic
// links that loop or lead nowhere, which must neither hang the walk nor be
// followed into a directory.
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/support/output_lines.h"
#include "tests/support/temp_tree.h"
#include "tests/support/tool_runner.h"

namespace {

// The names in folder in the order the file system lists them, which is the
// order of the tool's listing within one directory.
std::vector<std::string> ListingOrder(const std::string& folder) {
  std::vector<std::string> names;
  DIR* listing = ::opendir(folder.c_str());
  if (listing == nullptr) return names;
  while (const dirent* entry = ::readdir(listing)) {
    if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
      names.push_back(entry->d_name);
    }
  }
  ::closedir(listing);
  return names;
}

void Create(const std::string& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  ASSERT_GE(fd, 0) << path;
  ::close(fd);
}

TEST(HostileNamesTest, NamesOfEveryByteAreListedByteForByte) {
  TempTree tree;
  std::string allBytes;
  for (int byte = 1; byte <= 255; ++byte) {
    if (byte != '/') allBytes.push_back(static_cast<char>(byte));
  }
  ASSERT_EQ(allBytes.size(), 254u);
  tree.AddDirectory("names");
  tree.AddDirectory("dirs/" + allBytes);
  const std::string names = (tree / "names").string();
  Create(names + "/" + allBytes);
  for (const char byte : allBytes) {
    if (byte != '.') Create(names + "/" + std::string(1, byte));
  }
  Create((tree / "dirs" / allBytes / allBytes).string());
  Create((tree / "dirs" / allBytes / "f").string());

  const struct {
    const char* folder;
    std::string prefix;
    int status;
  } rows[] = {
      {"names", "names/", 254},
      {"dirs", "dirs/" + allBytes + "/", 2},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.folder);
    std::string expected;
    const std::string listed =
        std::string(row.folder) == "names" ? names : (tree / "dirs" / allBytes).string();
    for (const std::string& name : ListingOrder(listed)) expected += row.prefix + name + "\n";
    const ProcessResult run =
        RunTool(PACKHOUND_PATH, {"-su", "-nh", "-ns", row.folder}, tree.Root().string());
    EXPECT_TRUE(run.out == expected) << "the listing differs from the names on disk";
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.exitStatus, row.status);
  }
}

// A link to a file is a file of its own, and so is a link that leads nowhere
// or to itself; a link to a directory is neither searched nor counted.
TEST(HostileNamesTest, LinkLoopsAndDanglingLinksEndTheWalkWithExactCounts) {
  TempTree tree;
  tree.AddFile("sub/f");
  const std::string root = tree.Root().string();
  for (const auto& [link, target] :
       std::vector<std::pair<std::string, std::string>>{{"loop", "."},
                                                        {"sub/up", ".."},
                                                        {"self", "self"},
                                                        {"missing", "nowhere"},
                                                        {"tofile", "sub/f"},
                                                        {"todir", "sub"}}) {
    ASSERT_EQ(::symlink(target.c_str(), (root + "/" + link).c_str()), 0) << link;
  }

  const struct {
    const char* name;
    std::vector<std::string> arguments;
    std::string prefix;
  } rows[] = {
      {"from the top", {"-su", "-nh"}, "."},
      {"from a link to the top", {"-su", "-nh", "loop"}, "loop"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const ProcessResult run = RunTool(PACKHOUND_PATH, row.arguments, root);
    std::vector<std::string> lines = OutputLines(run.out);
    ASSERT_EQ(lines.size(), 5u) << run.out << run.err;
    const std::vector<std::string> topFiles(lines.begin(), lines.begin() + 3);
    EXPECT_EQ(SortedLines(topFiles),
              SortedLines({row.prefix + "/missing", row.prefix + "/self", row.prefix + "/tofile"}));
    EXPECT_EQ(lines[3], row.prefix + "/sub/f");
    EXPECT_EQ(lines[4], "Found 4 uncompressed files in 4 items examined. ");
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.exitStatus, 4);
  }
}

}  // namespace
