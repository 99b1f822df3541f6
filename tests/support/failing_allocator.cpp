#include "tests/support/failing_allocator.h"

#include "tests/support/block_size.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>

namespace {

std::atomic<bool> active{false};
std::atomic<std::int64_t> allocations{0};
std::atomic<std::int64_t> releases{0};
std::atomic<std::int64_t> failures{0};
std::atomic<std::int64_t> heldBytes{0};
std::atomic<std::int64_t> peakBytes{0};
std::int64_t firstFailing = -1;
std::int64_t failingCount = 0;
bool othersOnly = false;
thread_local bool madeTheScope = false;

bool Counted() noexcept {
  return active.load(std::memory_order_relaxed) && !(othersOnly && madeTheScope);
}

// Answers null when this allocation is one the active scope makes fail.
void* Allocate(std::size_t size) noexcept {
  const bool counted = Counted();
  if (counted) {
    const std::int64_t index = allocations.fetch_add(1);
    if (firstFailing >= 0 && index >= firstFailing && index - firstFailing < failingCount) {
      failures.fetch_add(1);
      return nullptr;
    }
  }
  // The block is handed out as the C library made it, so that a memory
  // checker sees the program's own pointers; its size comes back from there.
  void* block = std::malloc(size == 0 ? 1 : size);
  if (block != nullptr && counted) {
    const auto bytes = static_cast<std::int64_t>(BlockSize(block));
    const std::int64_t held = heldBytes.fetch_add(bytes) + bytes;
    std::int64_t peak = peakBytes.load();
    while (held > peak && !peakBytes.compare_exchange_weak(peak, held)) {
    }
  }
  return block;
}

void Free(void* pointer) noexcept {
  if (pointer == nullptr) return;
  if (Counted()) heldBytes.fetch_sub(static_cast<std::int64_t>(BlockSize(pointer)));
  if (active.load(std::memory_order_relaxed)) releases.fetch_add(1);
  std::free(pointer);
}

}  // namespace

namespace failing_allocator {

Scope::Scope(std::int64_t firstFailure, std::int64_t failureCount, Threads threads) {
  allocations = 0;
  releases = 0;
  failures = 0;
  heldBytes = 0;
  peakBytes = 0;
  firstFailing = firstFailure;
  failingCount = failureCount;
  othersOnly = threads == Threads::kOthers;
  madeTheScope = true;
  active = true;
}

Scope::~Scope() {
  active = false;
  madeTheScope = false;
}

std::int64_t Scope::Allocations() const { return allocations; }
std::int64_t Scope::Releases() const { return releases; }
std::int64_t Scope::Failures() const { return failures; }
std::int64_t Scope::PeakBytes() const { return peakBytes; }

}  // namespace failing_allocator

void* operator new(std::size_t size) {
  void* p = Allocate(size);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}
void* operator new[](std::size_t size) {
  void* p = Allocate(size);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void operator delete(void* p) noexcept { Free(p); }
void operator delete[](void* p) noexcept { Free(p); }
void operator delete(void* p, std::size_t) noexcept { Free(p); }
void operator delete[](void* p, std::size_t) noexcept { Free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { Free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { Free(p); }
