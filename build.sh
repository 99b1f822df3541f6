#!/usr/bin/env bash
# Builds Packhound, installing with apt-get whatever a fresh Debian or Ubuntu
# machine lacks for it (tools/install-missing), then runs the tool or its
# tests, or makes the release packages.
#
#   ./build.sh run [arguments...]   optimised build, then packhound with the arguments,
#                                   run in the caller's directory
#   ./build.sh test                 debug build with warnings as errors, then every test
#   ./build.sh package [deb|zip]    the Debian package and the Windows zip (or the one
#                                   named), in build/packages/
set -euo pipefail
# Relative paths given to "run" are the caller's; everything else is the tree's.
caller=$PWD
cd "$(dirname "$0")"
root=$PWD

usage() {
  echo "usage: $0 run [packhound arguments...] | $0 test | $0 package [deb|zip]" >&2
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
    cd "$caller"
    exec "$root/build/release/packhound" "$@"
    ;;
  test)
    tools/install-missing build test
    cmake --workflow --preset dev
    ;;
  package)
    kinds=${1:-both}
    [ $# -le 1 ] || usage
    case "$kinds" in
      deb) tools/install-missing build package ;;
      zip | both) tools/install-missing build package windows ;;
      *) usage ;;
    esac
    # Only the packages of this run, whatever version the last one had.
    rm -rf build/packages
    [ "$kinds" = zip ] || cmake --workflow --preset deb
    [ "$kinds" = deb ] || cmake --workflow --preset windows-zip
    # CPack's staging folder; the packages stay.
    rm -rf build/packages/_CPack_Packages
    ls build/packages/*
    ;;
  *)
    usage
    ;;
esac
