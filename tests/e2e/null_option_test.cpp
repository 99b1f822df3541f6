// "--null": each listing line ends with a NUL byte instead of a newline, so
// that names holding newlines, tabs or spaces reach xargs -0 whole; the
// header and the summary end as always.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/e2e/tree_run_test.h"
#include "tests/support/output_lines.h"

namespace {

const std::vector<std::string> kNames = {"two\nlines", "a\ttab", "some space", "plain"};

// The pieces of text between the NUL bytes that end them, sorted: the order
// within a directory is the file system's.
std::vector<std::string> NulEnded(const std::string& text) {
  std::vector<std::string> pieces;
  for (std::size_t start = 0; start < text.size();) {
    const std::size_t end = text.find('\0', start);
    if (end == std::string::npos) return {"<not NUL-ended: " + text.substr(start) + ">"};
    pieces.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return SortedLines(pieces);
}

class NullOptionTest : public TreeRunTest {
 protected:
  void SetUp() override {
    for (const std::string& name : kNames) tree.AddFile("d/" + name);
  }

  std::vector<std::string> Paths(const std::string& prefix, const std::string& suffix = "") {
    std::vector<std::string> paths;
    for (const std::string& name : kNames) paths.push_back(prefix + name + suffix);
    return SortedLines(paths);
  }
};

TEST_F(NullOptionTest, NamesReachXargsWhole) {
  std::vector<std::string> arguments = {
      "-c", "set -o pipefail; \"$@\" --null -su -nh -ns d | xargs -0 printf '[%s]\\n'", "sh"};
  for (const std::string& word : ToolCommand(PACKHOUND_PATH)) arguments.push_back(word);
  const ProcessResult run = RunProcess("/bin/bash", arguments, tree.Root().string());
  // Each bracket pair holds one name whole, its newline included.
  std::vector<std::string> printed;
  for (std::size_t at = 0; at < run.out.size();) {
    const std::size_t end = run.out.find("]\n", at);
    if (end == std::string::npos) break;
    printed.push_back(run.out.substr(at, end + 1 - at));
    at = end + 2;
  }
  EXPECT_EQ(SortedLines(printed), Paths("[d/", "]")) << run.out;
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.exitStatus, 4);
}

TEST_F(NullOptionTest, OnlyListingLinesEndWithNulWhereverTheOptionStands) {
  const std::string header = "Recursive search of d for uncompressed files.\n";
  const std::string summary = "Found 4 uncompressed files in 4 items examined. \n";
  for (const std::vector<std::string>& arguments :
       {std::vector<std::string>{"--null", "-su", "d"}, {"-su", "d", "--null"}}) {
    SCOPED_TRACE(testing::PrintToString(arguments));
    const ProcessResult run = Run(arguments);
    ASSERT_EQ(run.out.rfind(header, 0), 0u) << run.out;
    ASSERT_GE(run.out.size(), header.size() + summary.size());
    EXPECT_EQ(run.out.substr(run.out.size() - summary.size()), summary);
    EXPECT_EQ(
        NulEnded(run.out.substr(header.size(), run.out.size() - header.size() - summary.size())),
        Paths("d/"));
    EXPECT_EQ(run.exitStatus, 4);
  }
}

}  // namespace
