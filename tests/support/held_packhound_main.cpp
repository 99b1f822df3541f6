// packhound as built, held at a named point of its directory calls when the
// environment variable PACKHOUND_HOLD_AT names one, as "<point>:<name>"
// (held_run.h lists the points): the first thread that reaches it stops the
// whole process (SIGSTOP), so that a test changes the tree at a point of
// the walk it knows, and lets the process go on with SIGCONT.
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "app/driver.h"
#include "platform/port.h"
#include "platform/win32.h"
#include "tests/support/posix/held_run.h"
#include "tests/support/posix/system_call_faults.h"

namespace {

system_calls::Point heldPoint;
const char* heldName = nullptr;
std::atomic<bool> held{false};

void Hold(system_calls::Point point, const char* name, long) {
  if (point != heldPoint || std::strcmp(name, heldName) != 0 || held.exchange(true)) return;
  // Sent to this thread, so that it is this thread the kernel stops before
  // the call returns (the whole process with it): sent to the process, the
  // stop may be taken by another thread, and this one run on a little.
  ::pthread_kill(::pthread_self(), SIGSTOP);
}

}  // namespace

int main(int argc, char* argv[]) {
  PreparePortProcess();
  const char* holdAt = std::getenv("PACKHOUND_HOLD_AT");
  const char* colon = holdAt != nullptr ? std::strchr(holdAt, ':') : nullptr;
  if (colon != nullptr && PointNamed(std::string(holdAt, colon), heldPoint)) {
    heldName = colon + 1;
    system_calls::SetPointHook(Hold);
  }
  return PortExitStatus(PackhoundMain(argc, argv));
}
