#!/usr/bin/env bash
# Times the walk against its floor and against the tools a user would pick
# instead, side by side in one run, on two reproducible trees built once and
# kept under bench/trees/:
#   T1  about 200,000 empty files in 20,000 directories, up to 8 levels deep
#   T2  one flat directory of 100,000 files
# 5% of the files of each are marked compressed.
#
#   bench/run.sh              build what is missing, then measure everything
#   ROUNDS=41 bench/run.sh    more rounds (default 21)
#
# Timing is hyperfine -N with a warm cache: one untimed round, then ROUNDS
# rounds in which every command runs RUNS times (default once), so that a
# slow spell of a shared machine falls on every command alike. Each ratio is
# the median over the rounds of the ratio of the two commands' times in the
# same round; the medians of the times themselves are shown as well. Then the
# peak memory of each command (/usr/bin/time), the system calls of
# packhound -so and of the floor (strace -c -f), and a check that both count
# the same compressed files. Everything is kept in bench/results/
# (git-ignored); bench/report.pl prints the ratios and whether each target is met.
set -euo pipefail
cd "$(dirname "$0")/.."

ROUNDS=${ROUNDS:-21}
RUNS=${RUNS:-1}

# name, then make_tree.pl's DIRECTORIES FILES MAX_DEPTH COMPRESSED_PERCENT SEED
TREES=(
  "t1 20000 200000 8 5 20240607"
  "t2 1 100000 0 5 20240607"
)

missing=()
command -v hyperfine >/dev/null 2>&1 || missing+=(hyperfine)
command -v chattr >/dev/null 2>&1 || missing+=(e2fsprogs)
command -v perl >/dev/null 2>&1 || missing+=(perl)
command -v cmake >/dev/null 2>&1 || missing+=(cmake)
command -v ninja >/dev/null 2>&1 || missing+=(ninja-build)
command -v g++ >/dev/null 2>&1 || missing+=(g++)
command -v cc >/dev/null 2>&1 || missing+=(gcc)
command -v strace >/dev/null 2>&1 || missing+=(strace)
[ -x /usr/bin/time ] || missing+=(time)
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  echo "Installing ${missing[*]}" >&2
  $sudo apt-get update -qq >&2
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
    "${missing[@]}" >&2
fi

echo "== Building packhound (release preset) and the floor" >&2
cmake --preset release >/dev/null
cmake --build --preset release >/dev/null
PACKHOUND=build/release/packhound
FLOOR=build/bench/floor
mkdir -p build/bench
cc -O2 -o "$FLOOR" bench/floor.c

for tree in "${TREES[@]}"; do
  read -r name shape <<<"$tree"
  root=bench/trees/$name
  if [ ! -f "$root.done" ] || [ "$(cat "$root.done")" != "$shape" ]; then
    echo "== Building the tree $root ($shape), once" >&2
    rm -rf "$root"
    mkdir -p bench/trees
    # shellcheck disable=SC2086
    perl bench/make_tree.pl "$root" $shape >"$root.compressed"
    if ! xargs -0 -r chattr +c <"$root.compressed" 2>"$root.chattr.log"; then
      echo "warning: chattr +c was refused here (see $root.chattr.log);" \
        "$root has no compressed files" >&2
    fi
    echo "$shape" >"$root.done"
  fi
done

results=bench/results
rm -rf "$results"
mkdir -p "$results"
measures=$results/measures.txt
# shellcheck disable=SC1091,SC2185  # the release file is the machine's; find --version needs no path
{
  echo "machine $(nproc) cores, $(awk -F': ' '/model name/ { print $2; exit }' /proc/cpuinfo)," \
    "$(awk '/MemTotal/ { printf "%.0f GiB", $2 / 1048576 }' /proc/meminfo)"
  echo "system $(uname -sr), $(df --output=fstype bench/trees | tail -1) file system," \
    "$(. /etc/os-release && echo "$PRETTY_NAME")"
  echo "tools $(hyperfine --version), $(cc --version | head -1)," \
    "$(find --version | head -1), lsattr $(lsattr -V 2>&1 | awk '{ print $2; exit }')"
} >"$measures"

# packhound's summary: "Found N compressed files in M items examined. "
packhound_count() { "$PACKHOUND" -so -nh "$1" | awk '{ print $2 }'; }

echo "== Counts and system calls" >&2
mkdir -p build/bench/empty
for name in t1 t2; do
  root=bench/trees/$name
  files=$(find "$root" -type f | wc -l)
  directories=$(find "$root" -type d | wc -l)
  marked=$(tr -cd '\0' <"$root.compressed" | wc -c)
  ours=$(packhound_count "$root" || true)
  floor=$("$FLOOR" "$root")
  echo "tree $name $files files in $directories directories, $marked marked compressed" >>"$measures"
  echo "count $name packhound=$ours floor=$floor" >>"$measures"
  for who in packhound floor; do
    if [ "$who" = packhound ]; then command=("$PACKHOUND" -so "$root"); else command=("$FLOOR" "$root"); fi
    strace -c -f -o "$results/strace-$who-$name.txt" "${command[@]}" >/dev/null || true
    calls=$(awk '$NF == "total" { print $4 }' "$results/strace-$who-$name.txt")
    echo "calls $who $name $calls" >>"$measures"
  done
done

echo "== Peak memory" >&2
# The median of three runs of each, in KiB.
peak() {
  local label=$1
  shift
  local values=()
  for _ in 1 2 3; do
    /usr/bin/time -f %M -o "$results/peak.txt" "$@" >/dev/null 2>&1 || true
    values+=("$(tail -1 "$results/peak.txt")")
  done
  echo "memory $label $(printf '%s\n' "${values[@]}" | sort -n | sed -n 2p)" >>"$measures"
}
peak "packhound -so (empty directory)" "$PACKHOUND" -so build/bench/empty
peak "floor (empty directory)" "$FLOOR" build/bench/empty
commands=()
for name in t1 t2; do
  root=bench/trees/$name
  label=${name^^}
  commands+=(
    -n "floor $label" "$FLOOR $root"
    -n "packhound -so $label" "$PACKHOUND -so $root"
  )
  [ "$name" = t1 ] && commands+=(-n "packhound -su -nh -ns $label" "$PACKHOUND -su -nh -ns $root")
  commands+=(
    -n "find -type f $label" "find $root -type f"
    -n "find -printf %s $label" "find $root -type f -printf '%s\n'"
    -n "lsattr -R $label" "lsattr -R $root"
  )
done
for ((i = 0; i < ${#commands[@]}; i += 3)); do
  # shellcheck disable=SC2086
  peak "${commands[i + 1]}" ${commands[i + 2]//\'/}
done

echo "== Timing: one warm-up round, then $ROUNDS rounds of $RUNS run(s) per command" >&2
for round in $(seq 0 "$ROUNDS"); do
  echo "-- round $round of $ROUNDS" >&2
  hyperfine -N -i --style basic --runs "$RUNS" --export-json "$results/round-$round.json" \
    "${commands[@]}" >"$results/round-$round.txt" 2>&1
done
rm "$results/round-0.json"

perl bench/report.pl "$measures" "$results"/round-*.json | tee "$results/report.txt"
