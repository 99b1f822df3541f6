// The runner that refuses system calls as an old seccomp profile does: a
// program runs under each refusal it can be asked for, and bad usage is
// refused before anything runs.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/process_runner.h"

namespace {

int RunUnderFilter(const std::vector<std::string>& arguments) {
  return RunProcess(PACKHOUND_SECCOMP_PATH, arguments, "/").exitStatus;
}

TEST(SeccompRunTest, AProgramRunsUnderEachRefusal) {
  for (const char* error : {"EPERM", "ENOSYS"}) {
    SCOPED_TRACE(error);
    EXPECT_EQ(RunUnderFilter({error, "openat2", "/usr/bin/env", "true"}), 0);
  }
}

TEST(SeccompRunTest, BadUsageExits125) {
  const struct {
    const char* why;
    std::vector<std::string> arguments;
  } usages[] = {
      {"no program", {"EPERM", "openat2"}},
      {"an unknown error", {"EBADF", "openat2", "/usr/bin/env", "true"}},
      {"an unknown system call", {"EPERM", "open", "/usr/bin/env", "true"}},
      {"a relative program", {"EPERM", "openat2", "env", "true"}},
  };
  for (const auto& usage : usages) {
    EXPECT_EQ(RunUnderFilter(usage.arguments), 125) << usage.why;
  }
}

}  // namespace
