#!/usr/bin/env bash
# The Debian package as a user gets it: its name and control fields, no error
# from lintian, and, unpacked into a scratch root, the installed tool, manual
# page and bash completion at work.
#
#   check_deb.sh build/packages/packhound_<version>_<arch>.deb
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=tests/packaging/check_common.sh
. "$(dirname "$0")/check_common.sh"
deb=$package
root=$scratch

version=$(dpkg-deb -f "$deb" Version)
arch=$(dpkg-deb -f "$deb" Architecture)
[ "$(basename "$deb")" = "packhound_${version}_${arch}.deb" ] ||
  fail "$(basename "$deb") is not named packhound_${version}_${arch}.deb"
for field in Package=packhound Section=utils Priority=optional; do
  value=$(dpkg-deb -f "$deb" "${field%%=*}")
  [ "$value" = "${field#*=}" ] || fail "${field%%=*} is '$value', not '${field#*=}'"
done
dpkg-deb -f "$deb" Maintainer | grep -qE '^[^<]+ <[^@>]+@[^>]+>$' ||
  fail "the maintainer is not a name and an address"
# A summary, then a long description.
[ "$(dpkg-deb -f "$deb" Description | wc -l)" -gt 1 ] || fail "the description has no long part"
echo "Depends: $(dpkg-deb -f "$deb" Depends | grep . || echo none)"

echo "lintian:"
lintian --fail-on error "$deb"

dpkg -x "$deb" "$root"
tool=$root/usr/bin/packhound
[ -x "$tool" ] || fail "no executable /usr/bin/packhound"

usage=$("$tool" -u)
banner=${usage%%$'\n'*}
[[ $banner == *" Version $version "* ]] || fail "the banner '$banner' does not name version $version"

# A search of a small tree; one file per directory, so the order is fixed.
mkdir -p "$root/tree/sub"
echo a >"$root/tree/a"
echo b >"$root/tree/sub/b"
status=0
output=$(cd "$root" && usr/bin/packhound -su tree) || status=$?
expected="Recursive search of tree for uncompressed files.
tree/a
tree/sub/b
Found 2 uncompressed files in 2 items examined. "
[ "$output" = "$expected" ] || fail "the search printed:
$output
instead of:
$expected"
[ "$status" -eq 2 ] || fail "the search ended with status $status, not 2"

# The page renders without a warning, in a locale every machine has.
page=$root/usr/share/man/man1/packhound.1.gz
[ -f "$page" ] || fail "no manual page $page"
warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man -l "$page" 2>&1 >/dev/null)
[ -z "$warnings" ] || fail "man -l warns: $warnings"
LC_ALL=C.UTF-8 MANWIDTH=80 man -l "$page" 2>/dev/null | grep -q "Packhound $version" ||
  fail "the manual page does not name version $version"

copyright=$root/usr/share/doc/packhound/copyright
head -n 1 "$copyright" |
  grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' ||
  fail "$copyright is not in the machine-readable format"

"$here/completion_test.sh" "$root/usr/share/bash-completion/completions/packhound" "$tool"
echo "$(basename "$deb"): all checks passed"
