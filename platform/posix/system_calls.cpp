#include "platform/posix/system_calls.h"

#include <pthread.h>

#include <cerrno>

namespace system_calls {

namespace internal {
std::atomic<bool> injecting{false};
std::atomic<PointHook> pointHook{nullptr};
}  // namespace internal

void SetPointHook(PointHook hook) { internal::pointHook.store(hook, std::memory_order_release); }

namespace {

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

}  // namespace

bool internal::TakeInjectedFailure(Call call) noexcept {
  Injection& injection = Of(call);
  injection.calls.fetch_add(1);
  if (TakeOne(injection.passing) || !TakeOne(injection.failing)) return false;
  if (::pthread_equal(::pthread_self(), injector) == 0) failuresElsewhere.fetch_add(1);
  errno = injection.error.load();
  return true;
}

void InjectFailure(Call call, std::uint64_t passing, int error, std::uint64_t failing) {
  for (Injection& each : injections) each.calls = 0;
  injector = ::pthread_self();
  failuresElsewhere = 0;
  Injection& injection = Of(call);
  injection.failing = 0;
  injection.error = error;
  injection.passing = passing;
  injection.failing = failing;
  internal::injecting = true;
}

void ClearInjectedFailures() {
  internal::injecting = false;
  for (Injection& each : injections) {
    each.passing = 0;
    each.failing = 0;
    each.calls = 0;
  }
}

std::uint64_t CallsMade(Call call) { return Of(call).calls.load(); }

std::uint64_t FailuresOnOtherThreads() { return failuresElsewhere.load(); }

}  // namespace system_calls
