// "--null": each listing line ends with a NUL byte instead of a newline, so
// that names holding newlines, tabs or spaces reach xargs -0 whole; the
// header and the summary end as always.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/e2e/tree_run_test.h"
#include "tests/support/output_lines.h"

namespace {

const std::vector<std::string> kNames = {"two\nlines", "a\ttab", "some space"};

// Each name in "[" and "]" as printf prints it, or NUL-ended, sorted as a
// whole: the order within a directory is the file system's.
std::string Expected(const std::string& before, const std::string& after) {
  std::vector<std::string> paths;
  for (const std::string& name : kNames) paths.push_back(before + "d/" + name + after);
  std::string text;
  for (const std::string& path : SortedLines(paths)) text += path;
  return text;
}

// The pieces of text, each ended by end, sorted and joined again.
std::string Sorted(const std::string& text, const std::string& end) {
  std::vector<std::string> pieces;
  for (std::size_t at = 0, next; (next = text.find(end, at)) != std::string::npos;
       at = next + end.size()) {
    pieces.push_back(text.substr(at, next + end.size() - at));
  }
  std::string joined;
  for (const std::string& piece : SortedLines(pieces)) joined += piece;
  return joined.size() == text.size() ? joined : "<not all ended>" + text;
}

class NullOptionTest : public TreeRunTest {
 protected:
  void SetUp() override {
    for (const std::string& name : kNames) tree.AddFile("d/" + name);
  }
};

TEST_F(NullOptionTest, NamesReachXargsWholeAndOnlyListingLinesChange) {
  std::vector<std::string> arguments = {
      "-c", "set -o pipefail; \"$@\" -su -nh --null -ns d | xargs -0 printf '[%s]\\n'", "sh"};
  for (const std::string& word : ToolCommand(PACKHOUND_PATH)) arguments.push_back(word);
  const ProcessResult piped = RunProcess("/bin/bash", arguments, tree.Root().string());
  EXPECT_EQ(Sorted(piped.out, "]\n"), Expected("[", "]\n"));
  EXPECT_EQ(piped.exitStatus, 3) << piped.err;

  const std::string header = "Recursive search of d for uncompressed files.\n";
  const std::string summary = "Found 3 uncompressed files in 3 items examined. \n";
  const ProcessResult run = Run({"--null", "-su", "d"});
  ASSERT_EQ(run.out.rfind(header, 0), 0u) << run.out;
  ASSERT_GE(run.out.size(), header.size() + summary.size()) << run.out;
  EXPECT_EQ(run.out.substr(run.out.size() - summary.size()), summary);
  const std::string listing =
      run.out.substr(header.size(), run.out.size() - header.size() - summary.size());
  EXPECT_EQ(Sorted(listing, std::string(1, '\0')), Expected("", std::string(1, '\0')));
}

}  // namespace
