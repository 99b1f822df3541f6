// How many threads the directory walk may use, and how many descriptors its
// read-ahead may hold.
#pragma once

#include <cstddef>

// The most threads a walk uses, whatever it is asked for.
inline constexpr unsigned kMaxWalkThreads = 64;

// The threads that make the walk's system calls, the caller's included: the
// number in PACKHOUND_THREADS when it is one from 1 to kMaxWalkThreads,
// otherwise the cores the process may run on. 1 is the walk on the caller's
// thread alone.
unsigned WalkThreads();

// The threads a walk may grow to once it finds itself waiting on the disk,
// where more reads in flight keep the disk's queue full: the number in
// PACKHOUND_THREADS when it asks for one, otherwise four for each core the
// process may run on, at most kMaxWalkThreads.
unsigned DiskWalkThreads();

// The descriptors the process may still open: its limit less those open now
// (inherited ones included), at most kMaxCountedDescriptors.
inline constexpr std::size_t kMaxCountedDescriptors = 4096;
std::size_t FreeDescriptors();

// The descriptors the read-ahead may hold open at once: half of those free
// once the walk's own two (its start and the directory it reads) are set
// aside, at most 1024.
std::size_t ReadAheadDescriptors();
