#include "tests/support/failing_allocator.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
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

// Each block is preceded by its size, in room that keeps the block aligned.
constexpr std::size_t kSizeRoom = alignof(std::max_align_t);
static_assert(kSizeRoom >= sizeof(std::size_t), "the size must fit before the block");

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
  if (size > SIZE_MAX - kSizeRoom) return nullptr;
  auto* raw = static_cast<unsigned char*>(std::malloc(kSizeRoom + size));
  if (raw == nullptr) return nullptr;
  std::memcpy(raw, &size, sizeof size);
  if (counted) {
    const std::int64_t held =
        heldBytes.fetch_add(static_cast<std::int64_t>(size)) + static_cast<std::int64_t>(size);
    std::int64_t peak = peakBytes.load();
    while (held > peak && !peakBytes.compare_exchange_weak(peak, held)) {
    }
  }
  return raw + kSizeRoom;
}

void Free(void* pointer) noexcept {
  if (pointer == nullptr) return;
  unsigned char* raw = static_cast<unsigned char*>(pointer) - kSizeRoom;
  if (Counted()) {
    std::size_t size;
    std::memcpy(&size, raw, sizeof size);
    heldBytes.fetch_sub(static_cast<std::int64_t>(size));
  }
  if (active.load(std::memory_order_relaxed)) releases.fetch_add(1);
  std::free(raw);
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
