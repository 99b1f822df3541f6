#include "app/option_table.h"

#include "app/command_line.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "platform/port.h"
#include "platform/win32.h"

namespace {

// The program's own six rows, over flags at the driver's start values.
class OptionTableTest : public testing::Test {
 protected:
  RunFlags flags;
  const std::array<OptionEntry, kOptionCount> table = MakeOptionTable(flags);

  // Index of the row FindOption picks, or -1 when it throws.
  int RowFor(const char* text) {
    try {
      return static_cast<int>(FindOption(table.data(), kOptionCount, text) - table.data());
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
    ParseOptions(static_cast<int>(arguments.size()), argv.data(), table.data(), kOptionCount);
  }
};

TEST_F(OptionTableTest, FindOptionMatchesANamePrefixIgnoringCase) {
  const struct {
    const char* text;
    int row;
  } rows[] = {
      {"nr", 0},    {"NR", 0}, {"Nr", 0},   {"nR", 0},   {"nrfoo", 0}, {"su", 1},
      {"sofar", 4}, {"FP", 5}, {"nh", 2},   {"ns", 3},   {"n", -1},    {"s", -1},
      {"x", -1},    {"", -1},  {"-nr", -1}, {"n r", -1},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.text);
    EXPECT_EQ(RowFor(row.text), row.row);
  }
}

TEST_F(OptionTableTest, FindOptionTakesTheFirstMatchingRow) {
  bool first = false;
  bool second = false;
  const OptionEntry overlapping[2] = {{"s", &first, false, "short"},
                                      {"su", &second, false, "long"}};
  EXPECT_EQ(FindOption(overlapping, 2, "su"), &overlapping[0]);
}

TEST_F(OptionTableTest, ParseOptionsTogglesEachGivenFlag) {
  Parse({"-su", "-NH", "-nr", "-fp", "-so"});
  EXPECT_TRUE(flags.searchUncompressed);
  EXPECT_FALSE(flags.showHeader);
  EXPECT_FALSE(flags.recursive);
  EXPECT_TRUE(flags.fullPath);
  EXPECT_TRUE(flags.summaryOnly);
  EXPECT_TRUE(flags.showSummary);
}

TEST_F(OptionTableTest, ParseOptionsTogglesBackAnOptionGivenTwice) {
  Parse({"-nr", "-nr", "-su", "-su", "-ns"});
  EXPECT_TRUE(flags.recursive);
  EXPECT_FALSE(flags.searchUncompressed);
  EXPECT_FALSE(flags.showSummary);
}

TEST_F(OptionTableTest, ParseOptionsLeavesArgumentsWithoutADashAlone) {
  Parse({"nr", "some/path", "", "su"});
  EXPECT_TRUE(flags.recursive);
  EXPECT_FALSE(flags.searchUncompressed);
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
      {{"-su", "-Bogus text", "-nr"},
       "Packhound: Unknown argument: Bogus text; cannot continue.\n"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.message);
    EXPECT_EXIT(Parse(row.arguments), testing::ExitedWithCode(PortExitStatus(-1)),
                std::string("^") + row.message + "$");
  }
}

}  // namespace
