// Arbitrary argument vectors through the pre-scan and the option parser,
// against a plain model of the rules: the last argument without a dash is the
// path; the first "-u", "-U" or "-?" (followed by anything), "-h" or "--help"
// asks for the usage text and nothing is applied; an exact "--version" before
// it asks for the banner; every "-" argument toggles the first row whose two-letter
// name starts its text, letter case ignored, and the first that matches no
// row ends the run with "Unknown argument: <text>" and -1.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/option_table.h"
#include "fuzz/fatal_error_trap.h"

namespace {

constexpr std::size_t kMaxArguments = 64;

#define CHECK(condition)                                                                 \
  do {                                                                                   \
    if (!(condition)) {                                                                  \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                      \
    }                                                                                    \
  } while (false)

char Fold(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

struct Expected {
  std::string path = ".";
  bool usage = false;
  bool version = false;
  std::array<bool, kOptionCount> flags = {true, false, true, true, false, false};
  std::optional<std::string> rejected;  // the text after the dash
};

Expected Model(const std::vector<std::string>& arguments) {
  static const char* const kNames[kOptionCount] = {"nr", "su", "nh", "ns", "so", "fp"};
  Expected expected;
  for (const std::string& argument : arguments) {
    if (argument.empty() || argument[0] != '-') {
      expected.path = argument;
    } else if ((argument.size() > 1 &&
                (argument[1] == 'u' || argument[1] == 'U' || argument[1] == '?')) ||
               argument == "-h" || argument == "--help") {
      expected.usage = true;
      return expected;
    } else if (argument == "--version") {
      expected.version = true;
    }
  }
  for (const std::string& argument : arguments) {
    if (argument.empty() || argument[0] != '-') continue;
    const std::string text = argument.substr(1);
    int row = 0;
    while (row < kOptionCount && !(text.size() >= 2 && Fold(text[0]) == kNames[row][0] &&
                                   Fold(text[1]) == kNames[row][1])) {
      ++row;
    }
    if (row == kOptionCount) {
      expected.rejected = text;
      break;
    }
    expected.flags[static_cast<std::size_t>(row)] = !expected.flags[static_cast<std::size_t>(row)];
  }
  return expected;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Arguments are separated by NUL bytes, as the process receives them.
  std::vector<std::string> arguments(1);
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] != 0) {
      arguments.back().push_back(static_cast<char>(data[i]));
    } else if (arguments.size() < kMaxArguments) {
      arguments.emplace_back();
    } else {
      break;
    }
  }
  if (size == 0) arguments.clear();

  std::vector<std::string> storage(arguments);
  std::vector<char*> argv;
  static char program[] = "packhound";
  argv.push_back(program);
  for (std::string& argument : storage) argv.push_back(argument.data());
  argv.push_back(nullptr);
  const int argc = static_cast<int>(argv.size()) - 1;

  const Expected expected = Model(arguments);

  RunFlags flags;
  const std::array<OptionEntry, kOptionCount> table = MakeOptionTable(flags);
  const PreScan scan = PreScanArguments(argc, argv.data());
  CHECK(scan.usageRequested == expected.usage);
  if (expected.usage) return 0;
  CHECK(scan.versionRequested == expected.version);
  CHECK(scan.startPath != nullptr && expected.path == scan.startPath);
  // The path is taken from the argument vector, never copied.
  CHECK(std::strcmp(scan.startPath, ".") == 0 ||
        std::find(argv.begin(), argv.end(), scan.startPath) != argv.end());

  std::optional<FatalExit> fatal;
  try {
    ParseOptions(argc, argv.data(), table.data(), kOptionCount);
  } catch (const FatalExit& exit) {
    fatal = exit;
  }
  const std::array<bool, kOptionCount> actual = {flags.recursive,   flags.searchUncompressed,
                                                 flags.showHeader,  flags.showSummary,
                                                 flags.summaryOnly, flags.fullPath};
  CHECK(actual == expected.flags);
  CHECK(fatal.has_value() == expected.rejected.has_value());
  if (fatal.has_value()) {
    CHECK(fatal->exitCode == -1);
    CHECK(fatal->message == "Unknown argument: " + *expected.rejected);
  }
  return 0;
}
