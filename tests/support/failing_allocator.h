// Test-only replacement of the global allocation functions. Allocations are
// counted while a scope is active, and chosen ones can be made to fail, so
// that out-of-memory paths can be driven one allocation at a time.
#pragma once

#include <cstdint>

namespace failing_allocator {

// Which threads' allocations a scope counts and may fail.
enum class Threads {
  kAll,
  kOthers,  // all but the thread that made the scope
};

// Counts the allocations and releases made while it lives, and the bytes held; allocations with
// index firstFailure .. firstFailure + failureCount - 1 (0 is the first one
// after construction) fail: the throwing forms throw std::bad_alloc, the
// nothrow forms answer null. With Threads::kOthers the allocations of the
// thread that made it are neither counted nor failed.
class Scope {
 public:
  explicit Scope(std::int64_t firstFailure = -1, std::int64_t failureCount = 1,
                 Threads threads = Threads::kAll);
  ~Scope();
  Scope(const Scope&) = delete;
  Scope& operator=(const Scope&) = delete;

  std::int64_t Allocations() const;
  std::int64_t Releases() const;
  std::int64_t Failures() const;
  // The most bytes, counted as the C library's blocks hold them (at least
  // what was asked for), that the scope's allocations held
  // at any one moment, less what it released of the blocks made before it.
  std::int64_t PeakBytes() const;
};

// Shorthand: a scope in which every allocation fails.
class FailAll : public Scope {
 public:
  FailAll() : Scope(0, INT64_MAX) {}
};

}  // namespace failing_allocator
