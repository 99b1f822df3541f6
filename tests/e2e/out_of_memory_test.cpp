// The whole tool with one allocation failing, each allocation in turn, until
// a run makes no allocation that could fail. Every run must end either as the
// run without failures ends, exactly, or with the out-of-memory fatal line,
// status 255 and at most the lines (listing and warnings) printed before the
// failure: never a crash, a hang, a leak reported by a sanitizer, or a wrong
// count, listing or warning.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
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
  kSearch,  // the listing and summary, or the fatal line after part of the listing
  kUsage,   // the usage text; the version reader shows "N/A" or nothing for what it lost
  kFatal,   // a fatal message and nothing else, or the out-of-memory line in its place
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
    // The guarded tree, searched by an unprivileged user: two directories
    // that user cannot search, between two that it can.
    for (const char* file : {"g.txt", "closed/inner.txt", "listonly/hidden.txt", "open/h.txt"}) {
      guarded.AddFile(file);
    }
    ::chmod((guarded / "closed").c_str(), 0);
    ::chmod((guarded / "listonly").c_str(), 0444);
    // That user must reach the tool, the trees and the report, wherever the build lives.
    tool = (toolFolder / "packhound_failing").string();
    std::filesystem::copy_file(PACKHOUND_FAILING_PATH, tool);
    for (const TempTree* folder : {&toolFolder, &tree, &guarded}) {
      ::chmod(folder->Root().c_str(), 0755);
    }
    ::chmod(reports.Root().c_str(), 01777);
    report = (reports / "counts").string();
  }

  // One run with allocation `failing` failing (-1: none), counted among the
  // allocations of every thread or, with workersOnly, of the workers alone.
  // The tool's environment is given on its command line: this process's
  // stays as it was.
  ProcessResult Run(const std::vector<std::string>& arguments, bool asNobody, long long failing,
                    Counts& counts) {
    std::remove(report.c_str());
    ToolLaunch launch;
    if (asNobody) launch.launcher = AsNobody();
    launch.launcher.insert(launch.launcher.end(),
                           {"/usr/bin/env", "PACKHOUND_ALLOCATION_REPORT=" + report,
                            "PACKHOUND_FAILING_ALLOCATION=" + std::to_string(failing),
                            "PACKHOUND_THREADS=" + std::to_string(threads)});
    if (workersOnly) launch.launcher.push_back("PACKHOUND_FAILING_THREADS=others");
    const ProcessResult run = RunTool(tool, arguments, tree.Root().string(), launch);
    counts = Counts();
    std::ifstream(report) >> counts.allocations >> counts.failures;
    return run;
  }

  // Checks a run that met its failing allocation against the run without one.
  static void ExpectAcceptable(const ProcessResult& run, const ProcessResult& clean,
                               Ending ending) {
    switch (ending) {
      case Ending::kSearch: {
        if (run.err == clean.err && run.exitStatus == clean.exitStatus && run.out == clean.out) {
          return;
        }
        // The warnings written before the failure, then the fatal line.
        const std::string fatal = kOutOfMemoryLine;
        const bool endsFatal =
            run.err.size() >= fatal.size() &&
            run.err.compare(run.err.size() - fatal.size(), fatal.size(), fatal) == 0;
        EXPECT_TRUE(endsFatal) << run.err;
        if (endsFatal) {
          EXPECT_TRUE(IsLinePrefix(run.err.substr(0, run.err.size() - fatal.size()), clean.err))
              << run.err;
        }
        EXPECT_EQ(run.exitStatus, kErrorStatus);
        // No summary for a search cut short, and no line that the full run lacks.
        EXPECT_TRUE(IsLinePrefix(run.out, clean.out) && run.out != clean.out) << run.out;
        return;
      }
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
      case Ending::kFatal:
        EXPECT_TRUE(run.err == clean.err || run.err == kOutOfMemoryLine) << run.err;
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.exitStatus, kErrorStatus);
        return;
    }
  }

  // One thread unless a case asks for more: the allocations then come in the
  // same order in every run.
  unsigned threads = 1;
  bool workersOnly = false;
  TempTree toolFolder;
  TempTree tree;
  TempTree guarded;
  TempTree reports;
  std::string tool;
  std::string report;
};

TEST_F(OutOfMemoryTest, EveryFailingAllocationEndsTheRunCleanly) {
  const struct {
    const char* name;
    std::vector<std::string> arguments;
    Ending ending;
    const char* cleanOut;  // the run without failures, when the tree fixes it; null otherwise
    bool allocates = true;
    bool asNobody = false;
    // When not empty, the lines the run without failures writes there, in
    // whatever order the walk meets their directories.
    std::string cleanErr = "";
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
       Ending::kFatal,
       "",
       true,
       false,
       "Packhound: Cannot search nowhere: no such directory; cannot continue.\n"},
      {"directories that cannot be searched",
       {"-su", guarded.Root().string()},
       Ending::kSearch,
       nullptr,
       true,
       true,
       "Packhound: Cannot search " + (guarded / "closed").string() +
           ": access denied.\nPackhound: Cannot search " + (guarded / "listonly").string() +
           ": access denied.\n"},
      {"conflicting options", {"-ns", "-so"}, Ending::kFatal, "", false},
      {"unknown option", {"-nr", "-bogus"}, Ending::kFatal, ""},
      {"usage", {"-u"}, Ending::kUsage, nullptr},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Counts counts;
    const ProcessResult clean = Run(row.arguments, row.asNobody, -1, counts);
    ASSERT_EQ(counts.failures, 0);
    // A wrapper that put its own allocator in place of the test's would leave
    // nothing to fail, and the sweep would prove nothing.
    EXPECT_EQ(counts.allocations > 0, row.allocates) << "allocations: " << counts.allocations;
    if (row.cleanOut != nullptr) {
      EXPECT_EQ(clean.out, row.cleanOut);
    }
    if (!row.cleanErr.empty()) {
      EXPECT_EQ(SortedLines(OutputLines(clean.err)), SortedLines(OutputLines(row.cleanErr)));
    }

    long long failing = 0;
    for (; failing < kAllocationLimit; ++failing) {
      SCOPED_TRACE("allocation " + std::to_string(failing) + " failing");
      const ProcessResult run = Run(row.arguments, row.asNobody, failing, counts);
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
// thread allocating freely), each number in turn. A worker short of memory
// leaves its work to the walk's thread, which reads on as it would without
// workers: every run ends exactly as the run without failures does.
TEST_F(OutOfMemoryTest, AFailingAllocationInAWorkerChangesNothing) {
  for (int directory = 0; directory < 12; ++directory) {
    for (int file = 0; file < 3; ++file) {
      tree.AddFile("W/" + std::to_string(directory) + "/g" + std::to_string(file));
    }
  }
  // More than the workers allocate in a run: a page, a marker and the
  // subdirectories named for each directory they read.
  constexpr long long kWorkerAllocations = 60;
  workersOnly = true;
  int failed = 0;
  for (const unsigned count : {2u, 4u}) {
    SCOPED_TRACE(std::to_string(count) + " threads");
    threads = count;
    Counts counts;
    const ProcessResult clean = Run({"-su"}, false, -1, counts);
    ASSERT_EQ(counts.failures, 0);
    ASSERT_EQ(clean.exitStatus, 38);  // every file but the three compressed ones
    ASSERT_LT(counts.allocations, kWorkerAllocations);
    for (long long failing = 0; failing < kWorkerAllocations; ++failing) {
      SCOPED_TRACE("worker allocation " + std::to_string(failing) + " failing");
      const ProcessResult run = Run({"-su"}, false, failing, counts);
      ASSERT_GE(counts.allocations, 0) << "no report: the process did not exit\n" << run.err;
      if (counts.failures > 0) ++failed;
      EXPECT_EQ(run.out, clean.out);
      EXPECT_EQ(run.err, clean.err);
      ASSERT_EQ(run.exitStatus, clean.exitStatus);
    }
  }
  EXPECT_GT(failed, 0) << "no worker allocation failed: the case tests nothing";
}

}  // namespace
