#!/usr/bin/env bash
# Builds Packhound, installing with apt-get whatever a fresh Debian or Ubuntu
# machine lacks for it (tools/install-missing), then runs the tool or its
# tests, or makes the release packages.
#
#   ./build.sh run [arguments...]   optimised build, then packhound with the arguments
#   ./build.sh test                 debug build with warnings as errors, then every test
#   ./build.sh package              the Debian package and the Windows zip, in build/packages/
set -euo pipefail
cd "$(dirname "$0")"

usage() {
  echo "usage: $0 run [packhound arguments...] | $0 test | $0 package" >&2
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
  package)
    tools/install-missing build package windows
    # Only the packages of this run, whatever version the last one had.
    rm -rf build/packages
    cmake --workflow --preset deb
    cmake --workflow --preset windows-zip
    # CPack's staging folder; the packages stay.
    rm -rf build/packages/_CPack_Packages
    ls build/packages/*.deb build/packages/*.zip
    ;;
  *)
    usage
    ;;
esac
