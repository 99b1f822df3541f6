// Between two walks of a test: nothing of the first goes on reading ahead.
#pragma once

namespace read_ahead {

// Forgets every directory foretold and returns once no thread reads ahead
// any more: after a walk abandoned halfway (ended by an error), nothing of
// it goes on. For a test that counts or fails system calls one walk at a time.
void Settle();

}  // namespace read_ahead
