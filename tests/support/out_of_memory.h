// Runs an operation with one chosen allocation failing, and tells whether an
// allocation did fail and whether the operation then raised
// HResultException(E_OUTOFMEMORY), as the search engine must.
#pragma once

#include <cstdint>

#include "find/hresult_exception.h"
#include "tests/support/failing_allocator.h"

struct FailureOutcome {
  bool failed;             // the chosen allocation was reached
  bool raisedOutOfMemory;  // the operation ended with E_OUTOFMEMORY
};

template <typename Operation>
FailureOutcome RunWithFailingAllocation(std::int64_t failing, Operation operation) {
  FailureOutcome outcome{false, false};
  failing_allocator::Scope scope(failing, 1);
  try {
    operation();
  } catch (const HResultException& e) {
    outcome.raisedOutOfMemory = e.GetResult() == E_OUTOFMEMORY;
  }
  outcome.failed = scope.Failures() > 0;
  return outcome;
}
