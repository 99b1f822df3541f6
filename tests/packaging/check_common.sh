# The start of both package checks, sourced with the check's own arguments:
# exactly one, the package, made absolute in $package; a scratch folder in
# $scratch, removed on exit; fail, which says what is wrong and ends the check.
[ $# -eq 1 ] || {
  echo "usage: $0 PACKAGE" >&2
  exit 2
}
package=$(realpath "$1")
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}
