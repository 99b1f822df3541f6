// The "fp" option over a path in which ".." follows a link: the full path
// names the directory the system reaches by the path, so that a search with
// "fp" lists what the search without it lists, under a longer prefix.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/e2e/tree_run_test.h"
#include "tests/support/output_lines.h"

namespace {

namespace fs = std::filesystem;

// The path a run's header names, and its listing with that path cut off.
struct Search {
  std::string path;
  std::vector<std::string> listed;
};

Search Read(const ProcessResult& run) {
  const std::vector<std::string> lines = OutputLines(run.out);
  const std::string head = "Recursive search of ";
  const std::string tail = " for uncompressed files.";
  Search search;
  if (lines.size() < 2 || lines.front().rfind(head, 0) != 0) return search;
  search.path = lines.front().substr(head.size(), lines.front().size() - head.size() - tail.size());
  for (std::size_t i = 1; i + 1 < lines.size(); ++i) {
    search.listed.push_back(lines[i].substr(std::min(search.path.size(), lines[i].size())));
  }
  search.listed = SortedLines(search.listed);
  return search;
}

//   a/y.txt  a/deep/x.txt  b/z.txt  b/lnk -> ../a/deep
// run from b, where lnk/.. is a, not b.
class FullPathLinksTest : public TreeRunTest {
 protected:
  void SetUp() override {
    tree.AddFile("a/y.txt");
    tree.AddFile("a/deep/x.txt");
    tree.AddFile("b/z.txt");
    fs::create_directory_symlink("../a/deep", tree / "b/lnk");
  }
};

TEST_F(FullPathLinksTest, ADotDotAfterALinkSearchesWhatTheSearchWithoutFullPathSearches) {
  for (const char* path : {"lnk/..", "lnk/../deep", "lnk/../..", "lnk/../deep/../"}) {
    SCOPED_TRACE(path);
    ToolLaunch launch;
    const std::string from = (tree / "b").string();
    const ProcessResult given = RunTool(PACKHOUND_PATH, {"-su", path}, from, launch);
    const ProcessResult full = RunTool(PACKHOUND_PATH, {"-su", "-fp", path}, from, launch);
    ASSERT_EQ(given.exitStatus, full.exitStatus) << full.out << full.err;
    ASSERT_GT(given.exitStatus, 0) << given.err;
    const Search expected = Read(given);
    const Search actual = Read(full);
    // A path given with its final separator keeps it.
    std::string shown = actual.path;
    if (shown.size() > 1 && shown.back() == '/') shown.pop_back();
    EXPECT_EQ(shown, fs::canonical(tree / "b" / path).string()) << full.out;
    EXPECT_EQ(actual.listed, expected.listed);
  }
}

}  // namespace
