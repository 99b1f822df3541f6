// The system calls of the directory enumeration, each of which a test can make
// fail on demand.
//
// The enumeration calls OpenAt, GetDents64 and Statx in place of openat,
// getdents64 and statx. Until a test injects a failure they are those system
// calls and nothing more: inlined where they are called, each adds one relaxed
// load of a flag and a branch that is never taken, so the walk keeps its cost.
// A test injects a failure of one kind of call with InjectFailure: from then
// on, `passing` calls of that kind go through, the next `failing` ones answer
// -1 with errno set to `error` without reaching the kernel, and later ones go
// through again. Calls on every thread count towards the same numbers. The
// tool itself never injects anything.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace system_calls {

enum class Call : unsigned { kOpenAt, kGetDents64, kStatx, kGetXattr };
inline constexpr unsigned kCallKinds = 4;

// Replaces whatever was injected for that kind of call before.
void InjectFailure(Call call, std::uint64_t passing, int error, std::uint64_t failing = 1);
// Every kind of call goes through again, and the counts start over.
void ClearInjectedFailures();
// Calls of that kind made since a failure was last injected, of any kind,
// or cleared, failed ones included.
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

namespace internal {
extern std::atomic<bool> injecting;  // any failure injected since the last clear
// Counts the call; true, with errno set, when it is one to fail. Out of line:
// only reached while a test injects failures.
bool TakeInjectedFailure(Call call) noexcept;
}  // namespace internal

[[gnu::always_inline]] inline bool Fails(Call call) noexcept {
  return internal::injecting.load(std::memory_order_relaxed) && internal::TakeInjectedFailure(call);
}

// Named points the walk's threads pass, where a test may hold a thread until
// the other side of a race has done its step. Until a test installs a hook,
// passing one is a load of a null pointer and a branch never taken.
enum class Point : unsigned {
  kOpeningAhead,       // a worker is about to open a foretold directory (name: its name)
  kOpenedAhead,        // a worker opened one, or failed to, and is about to go on
  kWaitingForWorker,   // the walk's thread waits for a worker opening the one it asked for
                       // (passed with the shared lock held: a hook must not block here)
  kOpeningInLine,      // the walk's thread is about to open one no worker opened
  kReading,            // a thread is about to read a batch of one, having let go of what it
                       // gave up before (a parent's descriptor, say)
  kCheckingFreshness,  // the walk's thread is about to check a listing read long ago
  kAskingHowStored,    // a thread is about to look for a file to ask how it is stored (name: the
                       // file's)
  kAskedFor,           // the walk's thread is about to serve a search the engine asked for
                       // (name: its specification, as asked: the directory and the pattern)
};
// detail: what a point has to say beyond the name, where it says it (the
// parent's descriptor at kOpeningAhead, the open's errno at kOpenedAhead, 0
// when it opened); 0 elsewhere.
using PointHook = void (*)(Point point, const char* name, long detail);

// Installs hook for every thread; null removes it. The tool never installs one.
void SetPointHook(PointHook hook);

namespace internal {
extern std::atomic<PointHook> pointHook;
}  // namespace internal

inline bool HookInstalled() noexcept {
  return internal::pointHook.load(std::memory_order_relaxed) != nullptr;
}

[[gnu::always_inline]] inline void Reach(Point point, const char* name, long detail = 0) noexcept {
  if (const PointHook hook = internal::pointHook.load(std::memory_order_acquire)) [[unlikely]] {
    hook(point, name, detail);
  }
}

// openat2, counted and failed as an openat.
[[gnu::always_inline]] inline long OpenAt2(int directoryFd, const char* path,
                                           struct open_how* how) noexcept {
  if (Fails(Call::kOpenAt)) [[unlikely]]
    return -1;
  return ::syscall(SYS_openat2, directoryFd, path, how, sizeof *how);
}

// openat without a creation mode: the enumeration never creates anything.
[[gnu::always_inline]] inline int OpenAt(int directoryFd, const char* path, int flags) noexcept {
  if (Fails(Call::kOpenAt)) [[unlikely]]
    return -1;
  return ::openat(directoryFd, path, flags);
}

[[gnu::always_inline]] inline ssize_t GetDents64(int directoryFd, void* buffer,
                                                 std::size_t size) noexcept {
  if (Fails(Call::kGetDents64)) [[unlikely]]
    return -1;
  return ::getdents64(directoryFd, buffer, size);
}

[[gnu::always_inline]] inline int Statx(int directoryFd, const char* path, int flags, unsigned mask,
                                        struct statx* status) noexcept {
  if (Fails(Call::kStatx)) [[unlikely]]
    return -1;
  return ::statx(directoryFd, path, flags, mask, status);
}

// getxattrat, which the C library does not wrap yet: its number (the same on
// every architecture that has it) and its argument record.
#if defined(SYS_getxattrat)
inline constexpr long kGetxattrat = SYS_getxattrat;
#else
inline constexpr long kGetxattrat = 464;
#endif
struct XattrArgs {
  std::uint64_t value;  // the room's address
  std::uint32_t size;
  std::uint32_t flags;
};

// getxattrat and lgetxattr, counted and failed as one kind of call.
[[gnu::always_inline]] inline ssize_t GetXattrAt(int directoryFd, const char* path, int atFlags,
                                                 const char* name, XattrArgs* args) noexcept {
  if (Fails(Call::kGetXattr)) [[unlikely]]
    return -1;
  return ::syscall(kGetxattrat, directoryFd, path, atFlags, name, args, sizeof *args);
}
[[gnu::always_inline]] inline ssize_t LGetXattr(const char* path, const char* name, void* value,
                                                std::size_t size) noexcept {
  if (Fails(Call::kGetXattr)) [[unlikely]]
    return -1;
  return ::lgetxattr(path, name, value, size);
}

}  // namespace system_calls
