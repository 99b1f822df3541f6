// packhound built with the test allocator: the allocation numbered by the
// environment variable PACKHOUND_FAILING_ALLOCATION (0 being the first one
// made once main has started) fails; when PACKHOUND_FAILING_THREADS is
// "others", only allocations of threads other than main's are counted and
// may fail. At exit the file named by
// PACKHOUND_ALLOCATION_REPORT receives "<allocations> <failures>\n", so that a
// test can tell a run that met its failure from one that never got that far.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/driver.h"
#include "platform/port.h"
#include "platform/win32.h"
#include "tests/support/failing_allocator.h"

namespace {

const failing_allocator::Scope* counting = nullptr;

void Report() {
  const char* path = std::getenv("PACKHOUND_ALLOCATION_REPORT");
  if (path == nullptr || counting == nullptr) return;
  char line[64];
  const int length = std::snprintf(line, sizeof line, "%lld %lld\n",
                                   static_cast<long long>(counting->Allocations()),
                                   static_cast<long long>(counting->Failures()));
  const int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return;
  [[maybe_unused]] const ssize_t written = ::write(fd, line, static_cast<std::size_t>(length));
  ::close(fd);
}

}  // namespace

int main(int argc, char* argv[]) {
  PreparePortProcess();
  const char* failing = std::getenv("PACKHOUND_FAILING_ALLOCATION");
  const char* threads = std::getenv("PACKHOUND_FAILING_THREADS");
  // Counts until the process is gone; the report is written before it ends.
  static const failing_allocator::Scope scope(
      failing != nullptr ? std::atoll(failing) : -1, 1,
      threads != nullptr && std::strcmp(threads, "others") == 0
          ? failing_allocator::Threads::kOthers
          : failing_allocator::Threads::kAll);
  counting = &scope;
  std::atexit(Report);
  return PortExitStatus(PackhoundMain(argc, argv));
}
