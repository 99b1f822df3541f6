#!/usr/bin/env bash
# The Windows zip as a user gets it: exactly the executable, the README and the
# licence, the latter two as in the repository, and the executable runs -u
# under Wine (cmake/wine-run, in the Wine prefix WINEPREFIX names).
#
#   check_zip.sh build/packages/packhound-<version>-windows-x86_64.zip
set -euo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
# shellcheck source=tests/packaging/check_common.sh
. "$(dirname "$0")/check_common.sh"
zip=$package
dir=$scratch

name=$(basename "$zip")
[[ $name =~ ^packhound-([0-9.]+)-windows-x86_64\.zip$ ]] || fail "$name is not named packhound-<version>-windows-x86_64.zip"
version=${BASH_REMATCH[1]}

listing=$(unzip -Z1 "$zip" | sort)
expected=$(printf '%s\n' LICENSE README.md packhound.exe)
[ "$listing" = "$expected" ] || fail "the zip holds:
$listing
instead of:
$expected"

unzip -q "$zip" -d "$dir"
cmp "$dir/README.md" "$repo/README.md" || fail "README.md differs from the repository's"
cmp "$dir/LICENSE" "$repo/LICENSE" || fail "LICENSE differs from the repository's"

usage=$("$repo/cmake/wine-run" "$dir/packhound.exe" -u </dev/null | tr -d '\r')
banner=${usage%%$'\n'*}
[[ $banner == *" Version $version "* ]] || fail "the banner '$banner' does not name version $version"
echo "$name: all checks passed"
