#!/usr/bin/env bash
# The bash completion of packhound, driven as bash drives it on TAB: the words
# of the line in COMP_WORDS, the cursor's word in COMP_CWORD, and the function
# that `complete -p packhound` names called.
#
#   completion_test.sh <completion script> <packhound executable>
set -uo pipefail
[ $# -eq 2 ] || { echo "usage: $0 completion-script packhound" >&2; exit 2; }
script=$(realpath "$1")
tool=$(realpath "$2")
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

bash -n "$script" || fail "bash -n $script"
# shellcheck source=/dev/null
source "$script"
spec=$(complete -p packhound 2>/dev/null) || fail "sourcing registers no completion for packhound"
function=$(sed -n 's/.* -F \([^ ]*\) .*/\1/p' <<<"${spec:-}")
if [ -z "$function" ] || ! declare -F "$function" >/dev/null; then
  echo "FAIL: no completion function in: ${spec:-nothing}" >&2
  exit 1
fi

# The replies to TAB at the end of the line given as words, sorted, each
# followed by "|".
replies() {
  COMP_WORDS=("$@")
  COMP_CWORD=$(($# - 1))
  COMP_LINE="$*"
  COMP_POINT=${#COMP_LINE}
  COMPREPLY=()
  "$function" packhound "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
  [ ${#COMPREPLY[@]} -eq 0 ] || printf '%s|' "${COMPREPLY[@]}" | tr '|' '\n' | sort | tr '\n' '|'
}

tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
mkdir -p "$tree/alpha/inner" "$tree/beta dir"
touch "$tree/afile" "$tree/alpha/file"
cd "$tree" || exit 1

# name | words after packhound, separated by "," | the replies expected
cases=(
  "-s offers both options that begin with -s|-s|-so|-su|"
  "-n offers the three options that begin with -n|-n|-nh|-nr|-ns|"
  "an option already given is offered again, as each one toggles|-su,-s|-so|-su|"
  "-- offers the long options|--|--extents|--help|--mounts|--null|--version|"
  "--n offers the long option that begins with --n|--n|--null|"
  "an unknown option prefix offers nothing|-x|"
  "an empty word offers the directories, no file and no option||alpha|beta dir|"
  "a prefix offers the directories it begins|a|alpha|"
  "a name with a space comes whole|-nr,be|beta dir|"
  "a directory's own subdirectories|alpha/|alpha/inner|"
)
for row in "${cases[@]}"; do
  name=${row%%|*}
  rest=${row#*|}
  words=${rest%%|*}
  expected=${rest#*|}
  IFS=, read -ra line <<<"$words"
  [ -n "$words" ] || line=("")
  actual=$(replies packhound "${line[@]}")
  [ "$actual" = "$expected" ] || fail "$name: packhound ${words//,/ }<TAB> offers '$actual', not '$expected'"
done

# Every option of the usage text's synopsis (its third line) is offered.
offered=$(replies packhound -)
synopsis=$("$tool" -u | sed -n 3p)
options=$(grep -oE -- '-{1,2}[A-Za-z?][A-Za-z-]*' <<<"$synopsis")
[ -n "$options" ] || fail "no option found in the usage synopsis: $synopsis"
for option in $options; do
  [[ "|$offered" == *"|$option|"* ]] || fail "$option, in the usage synopsis, is not offered for -<TAB>"
done

# Every option offered is one the tool takes: no error message, no status 255.
mkdir "$tree/empty"
IFS='|' read -ra offered_options <<<"$offered"
for option in "${offered_options[@]}"; do
  status=0
  errors=$("$tool" "$option" "$tree/empty" 2>&1 >/dev/null) || status=$?
  if [ "$status" -eq 255 ] || [ -n "$errors" ]; then
    fail "$option is offered but the tool refuses it (status $status): $errors"
  fi
done

[ "$failures" -eq 0 ] || exit 1
echo "bash completion: all cases passed"
