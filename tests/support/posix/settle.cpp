#include "tests/support/posix/settle.h"

#include "platform/posix/read_ahead.h"
#include "platform/posix/read_ahead_state.h"
#include "platform/posix/read_ahead_work.h"

namespace read_ahead {

void Settle() {
  if (!Enabled()) return;
  SharedState& shared = Shared();
  Deferred deferred;  // run once the lock is let go of
  std::unique_lock<Mutex> guard(shared.lock);
  shared.tree.DropPredictions(deferred);
  shared.pool.Pause(guard);
  if (shared.pool.Resume()) WakeWorkers(shared);
}

}  // namespace read_ahead
