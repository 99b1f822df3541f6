// Names outside any one ANSI code page on Windows: the tool runs in the UTF-8
// code page, so every name the file system holds is searched, and listed as
// its UTF-8 bytes, whatever the system's own code page is.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/e2e/tree_run_test.h"
#include "tests/support/output_lines.h"
#include "tests/support/process_runner.h"

namespace {

namespace fs = std::filesystem;

// A UTF-8 text as a path, whatever the code page of this test binary.
fs::path Utf8Path(const std::string& text) {
  return fs::path(std::u8string(text.begin(), text.end()));
}

std::string Utf8Text(const fs::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

// Greek, CJK, accented Latin and characters outside the Basic Multilingual
// Plane (a surrogate pair each in UTF-16), three directory levels deep, some
// names with spaces.
const std::vector<std::string> kFiles = {
    "plain.txt",
    "café\\crème brûlée.txt",
    "Ελλάδα\\Αθήνα\\Πλάκα\\οδός Αδριανού.txt",
    "日本\\a.txt",
    "日本\\東京 都\\新宿\\ファイル.txt",
    "😀 faces\\🐕 dog\\🦴 bone\\🦴.txt",
    "mixed\\日本 café Ελλάδα 😀.txt",
};

class WindowsNamesTest : public TreeRunTest {
 protected:
  void SetUp() override {
    for (const std::string& file : kFiles) {
      const fs::path path = tree.Root() / Utf8Path(file);
      fs::create_directories(path.parent_path());
      std::ofstream(path, std::ios::binary).close();
      ASSERT_TRUE(fs::exists(path)) << file;
    }
  }

  // Every file of kFiles under prefix whose path there begins with within,
  // as the tool should list them.
  static std::vector<std::string> Listed(const std::string& prefix,
                                         const std::string& within = "") {
    std::vector<std::string> lines;
    for (const std::string& file : kFiles) {
      if (file.rfind(within, 0) == 0) lines.push_back(prefix + file);
    }
    return SortedLines(lines);
  }
};

TEST_F(WindowsNamesTest, EveryFileIsListedAsItsUtf8Bytes) {
  const std::string root = Utf8Text(fs::canonical(tree.Root()));
  const struct {
    const char* name;
    std::vector<std::string> arguments;
    std::vector<std::string> lines;
  } rows[] = {
      {"the whole tree", {"-su", "-nh", "-ns"}, Listed(".\\")},
      {"not below the start", {"-su", "-nh", "-ns", "-nr"}, {".\\plain.txt"}},
      {"a start named in CJK", {"-su", "-nh", "-ns", "日本"}, Listed("", "日本\\")},
      {"a start named in Greek with a trailing backslash",
       {"-su", "-nh", "-ns", "Ελλάδα\\"},
       Listed("", "Ελλάδα\\")},
      {"a start outside the Basic Multilingual Plane",
       {"-su", "-nh", "-ns", "😀 faces\\🐕 dog"},
       Listed("", "😀 faces\\🐕 dog\\")},
      {"full path", {"-su", "-nh", "-ns", "-fp"}, Listed(root + "\\")},
      {"full path of a start named in accented Latin",
       {"-su", "-nh", "-ns", "-fp", "café"},
       Listed(root + "\\", "café\\")},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const ProcessResult run = Run(row.arguments);
    EXPECT_EQ(SortedLines(OutputLines(run.out)), row.lines) << run.out;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.exitStatus, static_cast<int>(row.lines.size()));
  }
}

TEST_F(WindowsNamesTest, HeaderAndSummaryCountEveryFile) {
  const ProcessResult run = Run({"-su", "日本"});
  const std::vector<std::string> lines = OutputLines(run.out);
  ASSERT_EQ(lines.size(), 4u) << run.out;
  EXPECT_EQ(lines.front(), "Recursive search of 日本 for uncompressed files.");
  EXPECT_EQ(lines.back(), "Found 2 uncompressed files in 2 items examined. ");

  const ProcessResult all = Run({"-su", "-so", "-nh"});
  EXPECT_EQ(all.out, "Found 7 uncompressed files in 7 items examined. \n");
  EXPECT_EQ(all.exitStatus, 7);
}

TEST_F(WindowsNamesTest, RedirectedOutputIsTheNamesBytesWithTheUsualLineEnds) {
  const ProcessResult run = Run({"-su", "-nh", "-ns", "mixed"});
  EXPECT_EQ(run.rawOut,
            "mixed\\\xE6\x97\xA5\xE6\x9C\xAC caf\xC3\xA9 "
            "\xCE\x95\xCE\xBB\xCE\xBB\xCE\xAC\xCE\xB4\xCE\xB1 \xF0\x9F\x98\x80.txt\r\n");
}

TEST_F(WindowsNamesTest, AnUnknownOptionIsQuotedAsTyped) {
  const ProcessResult run = Run({"-su", "-ñandú"});
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "Packhound: Unknown argument: ñandú; cannot continue.\n");
  EXPECT_EQ(run.exitStatus, -1);
}

// Names whose UTF-8 form outruns the 260 bytes of the find record cannot be
// made on Windows through Wine, whose names are at most 255 bytes on the Unix
// side; but a Unix name that is not UTF-8 reaches Windows as one U+FFFD (3
// bytes) per byte. Wine's A calls then hand over the first 258 bytes without
// a terminator. Such entries are passed over, never listed cut.
TEST_F(WindowsNamesTest, ANameLongerThanTheRecordIsNeverListedCut) {
  const ProcessResult made = RunProcess(
      "Z:\\bin\\sh",
      {"-c", "f=$(printf '\\351%.0s' $(seq 200)); mkdir \"$f\" && touch \"$f/in.txt\" \"$f.txt\""},
      tree.Root().string());
  if (made.exitStatus != 0) GTEST_SKIP() << "no Unix side to make the names on: " << made.err;
  const ProcessResult run = Run({"-su", "-nh", "-ns", "-nr"});
  EXPECT_EQ(run.out, ".\\plain.txt\n");
  EXPECT_EQ(run.exitStatus, 1);
  const ProcessResult all = Run({"-su", "-so", "-nh"});
  EXPECT_EQ(all.out, "Found 7 uncompressed files in 7 items examined. \n");
}

}  // namespace
