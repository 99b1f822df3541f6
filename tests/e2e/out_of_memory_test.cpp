// The whole tool with one allocation failing, each allocation in turn, until
// a run makes no allocation that could fail. Every run must end either as the
// run without failures ends, exactly, or with the out-of-memory fatal line,
// status 255 and at most the lines printed before the failure: never a
// crash, a hang, a leak reported by a sanitizer, or a wrong count or listing.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/compressed_flag.h"
#include "tests/support/output_lines.h"
#include "tests/support/temp_tree.h"
#include "tests/support/tool_runner.h"

namespace {

constexpr char kOutOfMemoryLine[] = "Packhound: Out of memory; cannot continue.\n";
constexpr int kErrorStatus = 255;
constexpr long long kAllocationLimit = 5000;  // far above what a run over this tree makes

// What a run without a failing allocation also ends with.
enum class Ending {
  kSearch,     // the listing and summary, or the fatal line after part of the listing
  kUsage,      // the usage text; the version reader shows "N/A" or nothing for what it lost
  kRejection,  // the unknown-option message, or the fatal line if it could not be formed
};

struct Counts {
  long long allocations = -1;  // -1: no report, the process did not end through exit
  long long failures = 0;
};

// Whether prefix is made of whole lines from the start of text.
bool IsLinePrefix(const std::string& prefix, const std::string& text) {
  return text.compare(0, prefix.size(), prefix) == 0 && (prefix.empty() || prefix.back() == '\n');
}

class OutOfMemoryTest : public testing::Test {
 protected:
  void SetUp() override {
    for (const char* file : {"a.txt", "b.txt", "S/d.txt", "S/e.txt", "S/X/f.txt"}) {
      tree.AddFile(file);
    }
    tree.AddDirectory("T");
    std::string why;
    if (!SetCompressedFlags(tree.Root(), {"a.txt", "S/d.txt", "S/X/f.txt"}, &why))
      GTEST_SKIP() << why;
    report = (reports / "counts").string();
    ::setenv("PACKHOUND_ALLOCATION_REPORT", report.c_str(), 1);
    // One thread: the allocations come in the same order in every run.
    ::setenv("PACKHOUND_THREADS", "1", 1);
  }

  void TearDown() override {
    ::unsetenv("PACKHOUND_ALLOCATION_REPORT");
    ::unsetenv("PACKHOUND_FAILING_ALLOCATION");
    ::unsetenv("PACKHOUND_FAILING_THREADS");
    ::unsetenv("PACKHOUND_THREADS");
  }

  // One run with allocation `failing` failing (-1: none).
  ProcessResult Run(const std::vector<std::string>& arguments, long long failing, Counts& counts) {
    ::setenv("PACKHOUND_FAILING_ALLOCATION", std::to_string(failing).c_str(), 1);
    std::remove(report.c_str());
    const ProcessResult run = RunTool(PACKHOUND_FAILING_PATH, arguments, tree.Root().string());
    counts = Counts();
    std::ifstream(report) >> counts.allocations >> counts.failures;
    return run;
  }

  // Checks a run that met its failing allocation against the run without one.
  static void ExpectAcceptable(const ProcessResult& run, const ProcessResult& clean,
                               Ending ending) {
    switch (ending) {
      case Ending::kSearch:
        if (run.err == clean.err && run.exitStatus == clean.exitStatus && run.out == clean.out) {
          return;
        }
        EXPECT_EQ(run.err, kOutOfMemoryLine);
        EXPECT_EQ(run.exitStatus, kErrorStatus);
        // No summary for a search cut short, and no line that the full run lacks.
        EXPECT_TRUE(IsLinePrefix(run.out, clean.out) && run.out != clean.out) << run.out;
        return;
      case Ending::kUsage: {
        std::vector<std::string> lines = OutputLines(run.out);
        ASSERT_FALSE(lines.empty());
        const std::string banner = lines.front();
        EXPECT_TRUE(banner == "Packhound Version 1.0.1.2 By Mistlake" ||
                    banner == "Packhound Version N/A By Mistlake" ||
                    banner == "Packhound Version  By Mistlake")
            << banner;
        EXPECT_EQ(run.out.substr(banner.size()),
                  clean.out.substr(OutputLines(clean.out).front().size()));
        EXPECT_EQ(run.err, "");
        EXPECT_EQ(run.exitStatus, 0);
        return;
      }
      case Ending::kRejection:
        EXPECT_TRUE(run.err == clean.err || run.err == kOutOfMemoryLine) << run.err;
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.exitStatus, kErrorStatus);
        return;
    }
  }

  TempTree tree;
  TempTree reports;
  std::string report;
};

TEST_F(OutOfMemoryTest, EveryFailingAllocationEndsTheRunCleanly) {
  const struct {
    const char* name;
    std::vector<std::string> arguments;
    Ending ending;
    const char* cleanOut;  // the run without failures, when the tree fixes it; null otherwise
    bool allocates = true;
  } rows[] = {
      {"recursive search",
       {},
       Ending::kSearch,
       "Recursive search of . for compressed files.\n./a.txt\n./S/d.txt\n./S/X/f.txt\n"
       "Found 3 compressed files in 5 items examined. \n"},
      {"uncompressed, full path", {"-su", "-fp", "S"}, Ending::kSearch, nullptr},
      {"not recursive, summary only",
       {"-nr", "-so"},
       Ending::kSearch,
       "Nonrecursive search of . for compressed files.\n"
       "Found 1 compressed files in 2 items examined. \n"},
      {"missing path",
       {"nowhere"},
       Ending::kSearch,
       "Recursive search of nowhere for compressed files.\n"
       "Found 0 compressed files in 0 items examined. \n"},
      {"conflicting options", {"-ns", "-so"}, Ending::kRejection, "", false},
      {"unknown option", {"-nr", "-bogus"}, Ending::kRejection, ""},
      {"usage", {"-u"}, Ending::kUsage, nullptr},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Counts counts;
    const ProcessResult clean = Run(row.arguments, -1, counts);
    ASSERT_EQ(counts.failures, 0);
    // A wrapper that put its own allocator in place of the test's would leave
    // nothing to fail, and the sweep would prove nothing.
    EXPECT_EQ(counts.allocations > 0, row.allocates) << "allocations: " << counts.allocations;
    if (row.cleanOut != nullptr) {
      EXPECT_EQ(clean.out, row.cleanOut);
    }

    long long failing = 0;
    for (; failing < kAllocationLimit; ++failing) {
      SCOPED_TRACE("allocation " + std::to_string(failing) + " failing");
      const ProcessResult run = Run(row.arguments, failing, counts);
      ASSERT_GE(counts.allocations, 0) << "no report: the process did not exit\n" << run.err;
      if (counts.failures == 0) {
        // The failure was never reached: this is a run without failures.
        EXPECT_EQ(run.out, clean.out);
        EXPECT_EQ(run.err, clean.err);
        EXPECT_EQ(run.exitStatus, clean.exitStatus);
        break;
      }
      ExpectAcceptable(run, clean, row.ending);
      if (HasFatalFailure()) return;
    }
    EXPECT_LT(failing, kAllocationLimit);
    std::printf("%s: %lld runs with a failing allocation\n", row.name, failing);
  }
}

// The read-ahead's workers allocate in an order that varies from run to run,
// so their allocations fail by number among theirs alone (the walk's own
// thread allocating freely), each number in turn. What a worker loses either
// costs only reading ahead, and the run ends as the run without failures
// does, or cuts a listing short, and the run ends with the out-of-memory
// line: never with a shorter listing or a smaller count.
TEST_F(OutOfMemoryTest, AFailingAllocationInAWorkerNeverShortensTheListing) {
  for (int directory = 0; directory < 12; ++directory) {
    for (int file = 0; file < 3; ++file) {
      tree.AddFile("W/" + std::to_string(directory) + "/g" + std::to_string(file));
    }
  }
  // More than the workers allocate in a run: a page, a marker and the
  // subdirectories named for each directory they read.
  constexpr long long kWorkerAllocations = 60;
  ::setenv("PACKHOUND_FAILING_THREADS", "others", 1);
  int failed = 0;
  int outOfMemory = 0;
  for (const char* threads : {"2", "4"}) {
    SCOPED_TRACE(std::string(threads) + " threads");
    ::setenv("PACKHOUND_THREADS", threads, 1);
    Counts counts;
    const ProcessResult clean = Run({"-su"}, -1, counts);
    ASSERT_EQ(counts.failures, 0);
    ASSERT_EQ(clean.exitStatus, 38);  // every file but the three compressed ones
    ASSERT_LT(counts.allocations, kWorkerAllocations);
    for (long long failing = 0; failing < kWorkerAllocations; ++failing) {
      SCOPED_TRACE("worker allocation " + std::to_string(failing) + " failing");
      const ProcessResult run = Run({"-su"}, failing, counts);
      ASSERT_GE(counts.allocations, 0) << "no report: the process did not exit\n" << run.err;
      if (counts.failures > 0) ++failed;
      if (run.err == kOutOfMemoryLine) ++outOfMemory;
      ExpectAcceptable(run, clean, Ending::kSearch);
      if (HasFatalFailure()) return;
    }
  }
  // Failures were met, and some of them cut a listing short.
  EXPECT_GT(failed, 0);
  EXPECT_GT(outOfMemory, 0);
  std::printf("%d of %lld runs met a failure, %d ended out of memory\n", failed,
              2 * kWorkerAllocations, outOfMemory);
}

}  // namespace
