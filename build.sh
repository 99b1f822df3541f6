#!/usr/bin/env bash
# Builds Packhound, installing with apt-get whatever a fresh Debian or Ubuntu
# machine lacks for it, then runs the tool or its tests.
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

missing=()
command -v cmake >/dev/null 2>&1 || missing+=(cmake)
command -v ninja >/dev/null 2>&1 || missing+=(ninja-build)
command -v g++ >/dev/null 2>&1 || missing+=(g++)
if [ "$mode" = test ]; then
  [ -f /usr/include/gtest/gtest.h ] || missing+=(libgtest-dev)
  command -v chattr >/dev/null 2>&1 || missing+=(e2fsprogs)
fi
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  echo "Installing ${missing[*]}" >&2
  $sudo apt-get update -qq >&2
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
fi

case "$mode" in
  run)
    cmake --preset release >/dev/null
    cmake --build --preset release >/dev/null
    exec build/release/packhound "$@"
    ;;
  test)
    cmake --workflow --preset dev
    ;;
  *)
    usage
    ;;
esac
