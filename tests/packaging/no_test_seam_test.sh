#!/usr/bin/env bash
# The shipped program makes its system calls itself: none of the tests'
# failure injection, call counting or point hooks is linked into it.
set -euo pipefail
program=$1
symbols=$(nm -C "$program")
# The seam's own calls are there: else the check below proves nothing.
grep -q 'system_calls::Statx' <<<"$symbols" || { echo "no seam in $program"; exit 1; }
if grep -E 'InjectFailure|ClearInjectedFailures|CallsMade|FailuresOnOtherThreads|SetPointHook|ScopedFailure|Settle' <<<"$symbols"; then
  echo "test machinery linked into $program"
  exit 1
fi
