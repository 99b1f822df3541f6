// The directory enumeration's system calls as the tests link them: each
// kind of call can be made to fail on demand and is counted, and a hook can
// hold a thread at the walk's named points.
//
// A test injects a failure of one kind of call with InjectFailure: from then
// on, `passing` calls of that kind go through, the next `failing` ones answer
// -1 with errno set to `error` without reaching the kernel, and later ones go
// through again. Calls on every thread count towards the same numbers.
#pragma once

#include <cstdint>

#include "platform/posix/system_calls.h"

namespace system_calls {

enum class Call : unsigned { kOpenAt, kGetDents64, kStatx, kGetXattr };
inline constexpr unsigned kCallKinds = 4;

// Replaces whatever was injected for that kind of call before.
void InjectFailure(Call call, std::uint64_t passing, int error, std::uint64_t failing = 1);
// Every kind of call goes through again, and the counts start over.
void ClearInjectedFailures();
// Calls of that kind made since a failure was last injected, of any kind,
// or cleared, failed ones included. openat2 counts as an openat, lgetxattr
// as a getxattrat.
std::uint64_t CallsMade(Call call);
// Injected failures taken since, on a thread other than the one that injected them.
std::uint64_t FailuresOnOtherThreads();

// Injects a failure for its own lifetime.
class ScopedFailure {
 public:
  ScopedFailure(Call call, std::uint64_t passing, int error, std::uint64_t failing = 1) {
    InjectFailure(call, passing, error, failing);
  }
  ~ScopedFailure() { ClearInjectedFailures(); }
  ScopedFailure(const ScopedFailure&) = delete;
  ScopedFailure& operator=(const ScopedFailure&) = delete;
};

// Called at every named point the walk passes (system_calls.h says what
// detail holds); installed for every thread, null removes it.
using PointHook = void (*)(Point point, const char* name, long detail);
void SetPointHook(PointHook hook);

}  // namespace system_calls
