// The system calls of the directory enumeration, made through this seam: in
// the shipped program they are the calls themselves and nothing more
// (system_calls.cpp). A test links a seam of its own in their place
// (tests/support/posix/system_call_faults.h), which can fail them, count
// them, and hold a thread at the named points the walk passes; none of that
// machinery is in the shipped program.
#pragma once

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>

namespace system_calls {

int OpenAt(int directoryFd, const char* path, int flags) noexcept;  // never creates
long OpenAt2(int directoryFd, const char* path, struct open_how* how) noexcept;
ssize_t GetDents64(int directoryFd, void* buffer, std::size_t size) noexcept;
int Statx(int directoryFd, const char* path, int flags, unsigned mask,
          struct statx* status) noexcept;

// getxattrat (Linux 6.13 on; the C library does not wrap it yet) and lgetxattr.
struct XattrArgs {
  std::uint64_t value;  // the room's address
  std::uint32_t size;
  std::uint32_t flags;
};
inline constexpr long kGetxattrat = 464;  // the same on every architecture that has it
ssize_t GetXattrAt(int directoryFd, const char* path, int atFlags, const char* name,
                   XattrArgs* args) noexcept;
ssize_t LGetXattr(const char* path, const char* name, void* value, std::size_t size) noexcept;

// Named points the walk's threads pass, where a test may hold a thread until
// the other side of a race has done its step.
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

// Passed at each named point; nothing at all in the shipped program. detail:
// what a point has to say beyond the name (the parent's descriptor at
// kOpeningAhead, the open's errno at kOpenedAhead, 0 when it opened); 0 elsewhere.
void Reach(Point point, const char* name, long detail = 0) noexcept;
// Whether a test holds threads at the points, and so decides which thread
// passes which; never in the shipped program.
bool Holding() noexcept;

}  // namespace system_calls
