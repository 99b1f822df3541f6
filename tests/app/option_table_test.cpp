#include "app/option_table.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/win32.h"

namespace {

// The program's six rows over flags of the fixture, at the driver's start values.
class OptionTableTest : public testing::Test {
 protected:
  bool recursive = true;
  bool searchUncompressed = false;
  bool showHeader = true;
  bool showSummary = true;
  bool summaryOnly = false;
  bool fullPath = false;
  const OptionEntry table[6] = {
      {"nr", &recursive, false, "NonRecursive search."},
      {"su", &searchUncompressed, false, "specifies a Search for Uncompressed files."},
      {"nh", &showHeader, false, "No Header output."},
      {"ns", &showSummary, false, "No Summary output."},
      {"so", &summaryOnly, false, "Show summary report Only (no file listing)."},
      {"fp", &fullPath, false, "convert path to Fully qualified Path."},
  };

  // Index of the row FindOption picks, or -1 when it throws.
  int RowFor(const char* text) {
    try {
      return static_cast<int>(FindOption(table, 6, text) - table);
    } catch (ExceptionUnknownFlag* unknown) {
      EXPECT_EQ(unknown->text, text) << "the exception must point at the given text";
      delete unknown;
      return -1;
    }
  }

  void Parse(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), "packhound");
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    ParseOptions(static_cast<int>(arguments.size()), argv.data(), table, 6);
  }
};

TEST_F(OptionTableTest, FindOptionMatchesANamePrefixIgnoringCase) {
  const struct {
    const char* text;
    int row;
  } rows[] = {
      {"nr", 0},   {"NR", 0},    {"Nr", 0}, {"nR", 0}, {"nrfoo", 0}, {"su", 1}, {"sofar", 4},
      {"FP", 5},   {"nh", 2},    {"ns", 3}, {"n", -1}, {"s", -1},    {"x", -1}, {"", -1},
      {"-nr", -1}, {"n r", -1},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.text);
    EXPECT_EQ(RowFor(row.text), row.row);
  }
}

TEST_F(OptionTableTest, FindOptionTakesTheFirstMatchingRow) {
  bool first = false;
  bool second = false;
  const OptionEntry overlapping[2] = {{"s", &first, false, "short"}, {"su", &second, false, "long"}};
  EXPECT_EQ(FindOption(overlapping, 2, "su"), &overlapping[0]);
}

TEST_F(OptionTableTest, ParseOptionsTogglesEachGivenFlag) {
  Parse({"-su", "-NH", "-nr", "-fp", "-so"});
  EXPECT_TRUE(searchUncompressed);
  EXPECT_FALSE(showHeader);
  EXPECT_FALSE(recursive);
  EXPECT_TRUE(fullPath);
  EXPECT_TRUE(summaryOnly);
  EXPECT_TRUE(showSummary);
}

TEST_F(OptionTableTest, ParseOptionsTogglesBackAnOptionGivenTwice) {
  Parse({"-nr", "-nr", "-su", "-su", "-ns"});
  EXPECT_TRUE(recursive);
  EXPECT_FALSE(searchUncompressed);
  EXPECT_FALSE(showSummary);
}

TEST_F(OptionTableTest, ParseOptionsLeavesArgumentsWithoutADashAlone) {
  Parse({"nr", "some/path", "", "su"});
  EXPECT_TRUE(recursive);
  EXPECT_FALSE(searchUncompressed);
}

using OptionTableDeathTest = OptionTableTest;

TEST_F(OptionTableDeathTest, ParseOptionsEndsTheProcessOnAnUnknownOption) {
  const struct {
    std::vector<std::string> arguments;
    const char* message;
  } rows[] = {
      {{"-n"}, "Packhound: Unknown argument: n; cannot continue.\n"},
      {{"-x"}, "Packhound: Unknown argument: x; cannot continue.\n"},
      {{"-"}, "Packhound: Unknown argument: ; cannot continue.\n"},
      {{"-su", "-Bogus text", "-nr"}, "Packhound: Unknown argument: Bogus text; cannot continue.\n"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.message);
    EXPECT_EXIT(Parse(row.arguments), testing::ExitedWithCode(PortExitStatus(-1)),
                std::string("^") + row.message + "$");
  }
}

}  // namespace
