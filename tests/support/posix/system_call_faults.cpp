// The seam as the tests link it: each call counted, and failed when a test
// says so; each point handed to the hook a test installed.
#include "tests/support/posix/system_call_faults.h"

#include <dirent.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace system_calls {

namespace {

std::atomic<bool> injecting{false};  // any failure injected since the last clear
std::atomic<PointHook> pointHook{nullptr};

// What is injected for one kind of call. Each field is atomic so that calls
// on several threads take each failure once; a test injects and clears while
// no enumeration runs.
struct Injection {
  std::atomic<std::uint64_t> passing{0};
  std::atomic<std::uint64_t> failing{0};
  std::atomic<int> error{0};
  std::atomic<std::uint64_t> calls{0};
};

Injection injections[kCallKinds];
pthread_t injector;  // set with the injection, before any call can read it
std::atomic<std::uint64_t> failuresElsewhere{0};

Injection& Of(Call call) { return injections[static_cast<unsigned>(call)]; }

// Takes one from counter unless it is 0; true when it took one.
bool TakeOne(std::atomic<std::uint64_t>& counter) {
  std::uint64_t value = counter.load();
  while (value > 0) {
    if (counter.compare_exchange_weak(value, value - 1)) return true;
  }
  return false;
}

// Counts the call; true, with errno set, when it is one to fail.
bool Fails(Call call) noexcept {
  if (!injecting.load(std::memory_order_relaxed)) return false;
  Injection& injection = Of(call);
  injection.calls.fetch_add(1);
  if (TakeOne(injection.passing) || !TakeOne(injection.failing)) return false;
  if (::pthread_equal(::pthread_self(), injector) == 0) failuresElsewhere.fetch_add(1);
  errno = injection.error.load();
  return true;
}

}  // namespace

void InjectFailure(Call call, std::uint64_t passing, int error, std::uint64_t failing) {
  for (Injection& each : injections) each.calls = 0;
  injector = ::pthread_self();
  failuresElsewhere = 0;
  Injection& injection = Of(call);
  injection.failing = 0;
  injection.error = error;
  injection.passing = passing;
  injection.failing = failing;
  injecting = true;
}

void ClearInjectedFailures() {
  injecting = false;
  for (Injection& each : injections) {
    each.passing = 0;
    each.failing = 0;
    each.calls = 0;
  }
}

std::uint64_t CallsMade(Call call) { return Of(call).calls.load(); }

std::uint64_t FailuresOnOtherThreads() { return failuresElsewhere.load(); }

void SetPointHook(PointHook hook) { pointHook.store(hook, std::memory_order_release); }

void Reach(Point point, const char* name, long detail) noexcept {
  if (const PointHook hook = pointHook.load(std::memory_order_acquire)) hook(point, name, detail);
}
bool Holding() noexcept { return pointHook.load(std::memory_order_relaxed) != nullptr; }

int OpenAt(int directoryFd, const char* path, int flags) noexcept {
  return Fails(Call::kOpenAt) ? -1 : ::openat(directoryFd, path, flags);
}
long OpenAt2(int directoryFd, const char* path, struct open_how* how) noexcept {
  return Fails(Call::kOpenAt) ? -1 : ::syscall(SYS_openat2, directoryFd, path, how, sizeof *how);
}
ssize_t GetDents64(int directoryFd, void* buffer, std::size_t size) noexcept {
  return Fails(Call::kGetDents64) ? -1 : ::getdents64(directoryFd, buffer, size);
}
int Statx(int directoryFd, const char* path, int flags, unsigned mask,
          struct statx* status) noexcept {
  return Fails(Call::kStatx) ? -1 : ::statx(directoryFd, path, flags, mask, status);
}
ssize_t GetXattrAt(int directoryFd, const char* path, int atFlags, const char* name,
                   XattrArgs* args) noexcept {
  return Fails(Call::kGetXattr)
             ? -1
             : ::syscall(kGetxattrat, directoryFd, path, atFlags, name, args, sizeof *args);
}
ssize_t LGetXattr(const char* path, const char* name, void* value, std::size_t size) noexcept {
  return Fails(Call::kGetXattr) ? -1 : ::lgetxattr(path, name, value, size);
}

}  // namespace system_calls
