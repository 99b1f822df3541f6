// What a terminal is shown: of the names a run lists or warns of, each
// control byte as '?', so that no name moves the cursor or sets colours
// (through a pipe or into a file the names stay byte for byte); and of a
// long run, a line of its counts on standard error.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/tree_run_test.h"
#include "tests/support/posix/held_run.h"

namespace {

const std::string kEscape = "red\x1b[31m";
const std::string kNewline = "two\nlines";
const std::string kTab = "tab\there";
const std::string kDelete = "del\x7f";
const std::string kShut = "shut\x1b[2J";  // a directory the run may not read

std::string Shown(std::string text) {
  for (char& c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  }
  return text;
}

// One file and one subdirectory a level, so that the walk's order is known:
//   ./red<ESC>[31m
//   ./two<LF>lines/tab<TAB>here
//   ./two<LF>lines/del<DEL>/red<ESC>[31m
// and ./shut<ESC>[2J, which the run may not read.
class TerminalNamesTest : public TreeRunTest {
 protected:
  void SetUp() override {
    tree.AddFile(kEscape);
    tree.AddFile(kNewline + "/" + kTab);
    tree.AddFile(kNewline + "/" + kDelete + "/" + kEscape);
    tree.AddDirectory(kShut);
    ::chmod(tree.Root().c_str(), 0755);
    ::chmod((tree / kShut).c_str(), 0);
    tool = ToolForAnyUser(PACKHOUND_PATH, toolFolder.Root().string());
  }

  TempTree toolFolder;
  std::string tool;
};

TEST_F(TerminalNamesTest, ControlBytesShowAsQuestionMarksOnATerminalAndAsTheyAreElsewhere) {
  const std::vector<std::string> paths = {"./" + kEscape, "./" + kNewline + "/" + kTab,
                                          "./" + kNewline + "/" + kDelete + "/" + kEscape};
  const std::string warned = "./" + kShut;
  const struct {
    const char* name;
    OutputTarget output;
    ErrorTarget error;
    bool outShown;  // standard output on a terminal
    bool errShown;
  } rows[] = {
      {"both through pipes", OutputTarget::kCaptured, ErrorTarget::kCaptured, false, false},
      {"standard output on a terminal", OutputTarget::kTerminal, ErrorTarget::kCaptured, true,
       false},
      {"standard error on a terminal", OutputTarget::kCaptured, ErrorTarget::kTerminal, false,
       true},
      {"both on terminals", OutputTarget::kTerminal, ErrorTarget::kTerminal, true, true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    ToolLaunch launch;
    launch.launcher = AsNobody();
    launch.output = row.output;
    launch.error = row.error;
    const ProcessResult run = RunTool(tool, {"-su"}, tree.Root().string(), launch);
    std::string out = "Recursive search of . for uncompressed files.\n";
    for (const std::string& path : paths) out += (row.outShown ? Shown(path) : path) + "\n";
    out += "Found 3 uncompressed files in 3 items examined. \n";
    EXPECT_EQ(run.out, out);
    EXPECT_EQ(run.err, "Packhound: Cannot search " + (row.errShown ? Shown(warned) : warned) +
                           ": access denied.\n");
    EXPECT_EQ(run.exitStatus, 3);
  }
}

// A run held 200 ms as it asks for ./a, whose 100 files then give the
// progress line its next check: drawn there, on a terminal's standard error
// only and only while no listing goes to that terminal, and erased at the end.
TEST(ProgressLineTest, ALongRunDrawsItsCountsOnATerminalAndErasesThemAtTheEnd) {
  TempTree tree;
  for (int i = 0; i < 100; ++i) tree.AddFile("a/f" + std::to_string(i));
  const std::string summary = "Found 100 uncompressed files in 100 items examined. \n";
  const struct {
    const char* name;
    std::vector<std::string> arguments;
    OutputTarget output;
    ErrorTarget error;
    bool drawn;
  } rows[] = {
      {"the listing through a pipe",
       {"-su"},
       OutputTarget::kCaptured,
       ErrorTarget::kTerminal,
       true},
      {"the summary alone on the terminal",
       {"-su", "-so"},
       OutputTarget::kTerminal,
       ErrorTarget::kTerminal,
       true},
      {"the listing on the terminal",
       {"-su"},
       OutputTarget::kTerminal,
       ErrorTarget::kTerminal,
       false},
      {"standard error through a pipe",
       {"-su"},
       OutputTarget::kCaptured,
       ErrorTarget::kCaptured,
       false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    ToolLaunch launch;
    launch.output = row.output;
    launch.error = row.error;
    bool held = false;
    const ProcessResult run = RunHeld(
        PACKHOUND_HELD_PATH, row.arguments, tree.Root().string(), 1, "asked", "./a/*.*",
        [] { std::this_thread::sleep_for(std::chrono::milliseconds(200)); }, held, launch);
    ASSERT_TRUE(held);
    EXPECT_EQ(run.out.substr(run.out.size() - std::min(run.out.size(), summary.size())), summary);
    EXPECT_EQ(run.exitStatus, 100);
    if (!row.drawn) {
      EXPECT_EQ(run.err, "");
      continue;
    }
    // Drawn from the first column, cleared to the end of the line, erased last.
    EXPECT_EQ(run.err.rfind("\rPackhound: ", 0), 0u) << run.err;
    EXPECT_NE(run.err.find(" items examined, 2 directories searched, "), std::string::npos)
        << run.err;
    const std::string erased = "\r\x1b[K";
    ASSERT_GT(run.err.size(), erased.size());
    EXPECT_EQ(run.err.substr(run.err.size() - erased.size()), erased) << run.err;
  }
}

}  // namespace
