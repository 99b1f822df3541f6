#!/usr/bin/env bash
# Builds Packhound, installing with apt-get whatever a fresh Debian or Ubuntu
# machine lacks for it (tools/install-missing), then runs the tool or its
# tests.
#
#   ./build.sh run [arguments...]   optimised build, then packhound with the arguments
#   ./build.sh test                 debug build with warnings as errors, then every test
set -euo pipefail
cd "$(dirname "$0")"

usage() {
  echo "usage: $0 run [packhound arguments...] | $0 test" >&2
  exit 2
}
[ $# -ge 1 ] || usage
mode=$1
shift

case "$mode" in
  run)
    tools/install-missing build
    cmake --preset release >/dev/null
    cmake --build --preset release >/dev/null
    exec build/release/packhound "$@"
    ;;
  test)
    tools/install-missing build test
    cmake --workflow --preset dev
    ;;
  *)
    usage
    ;;
esac
