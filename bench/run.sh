#!/usr/bin/env bash
# Times the walk against its floor and against the tools a user would pick
# instead, side by side in one run, on reproducible trees built once and
# kept under bench/trees/:
#   T1    about 200,000 empty files in 20,000 directories, up to 8 levels deep
#   T2    one flat directory of 100,000 files
#   deep  a chain of 12,000 directories, a file every hundred levels
#   btrfs 40,000 files of mixed content in 2,000 directories, on a btrfs file
#         system (an image on a loop device) mounted with compress=zstd: only
#         as root, said and skipped otherwise
# 5% of the files of T1 and T2 are marked compressed.
#
#   bench/run.sh                   build what is missing, then measure everything
#   ROUNDS=41 bench/run.sh         more rounds (default 21)
#   COLD_ROUNDS=9 bench/run.sh     more cold-cache rounds (default 5; root only)
#
# Timing is hyperfine -N with a warm cache: one untimed round, then ROUNDS
# rounds in which every command runs RUNS times (default once), so that a
# slow spell of a shared machine falls on every command alike. Each ratio is
# the median over the rounds of the ratio of the two commands' times in the
# same round; the medians of the times themselves are shown as well. Then the
# peak memory of each command (/usr/bin/time), the system calls of
# packhound -so and of the floor (strace -c -f), and a check that both count
# the same compressed files. packhound runs with its default threads (the
# cores it may use) and, as "1 thread", with PACKHOUND_THREADS=1.
#
# On the btrfs tree, warm: packhound --extents -so against its floor (the
# floor program with --extents: an open, one FIEMAP call and a close for
# each regular file besides) and against compsize, which totals what btrfs
# stores compressed; on T1, packhound --extents -so against packhound -so.
#
# Cold cache (only as root, said and skipped otherwise): the page cache is
# dropped (sync; echo 3 > /proc/sys/vm/drop_caches) before every single run
# of the floor, packhound -so, find -type f and bfs on T1, in COLD_ROUNDS
# rounds. The deep tree: packhound -so and find -type f, three rounds, with
# peak memory. Everything is kept in bench/results/ (git-ignored);
# bench/report.pl prints the ratios and whether each target is met.
set -euo pipefail
cd "$(dirname "$0")/.."

ROUNDS=${ROUNDS:-21}
RUNS=${RUNS:-1}
COLD_ROUNDS=${COLD_ROUNDS:-5}
DEEP_LEVELS=12000
# make_tree.pl's DIRECTORIES FILES MAX_DEPTH COMPRESSED_PERCENT SEED, with content
BTRFS_SHAPE="2000 40000 6 0 20241208 mixed"
# Each half of the NTFS tree: make_tree.pl's DIRECTORIES FILES MAX_DEPTH
# COMPRESSED_PERCENT SEED; one half made in a directory NTFS compresses.
NTFS_SHAPE="75 1500 4 0 20241209"

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
command -v bfs >/dev/null 2>&1 || missing+=(bfs)
command -v fdfind >/dev/null 2>&1 || missing+=(fd-find)
[ -x /usr/bin/time ] || missing+=(time)
command -v mkfs.btrfs >/dev/null 2>&1 || missing+=(btrfs-progs)
command -v compsize >/dev/null 2>&1 || missing+=(btrfs-compsize)
command -v ntfs-3g >/dev/null 2>&1 || missing+=(ntfs-3g)
command -v getfattr >/dev/null 2>&1 || missing+=(attr)
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
if [ ! -f bench/trees/deep.done ] || [ "$(cat bench/trees/deep.done)" != "$DEEP_LEVELS" ]; then
  echo "== Building the tree bench/trees/deep ($DEEP_LEVELS levels), once" >&2
  rm -rf bench/trees/deep
  perl bench/make_deep.pl bench/trees/deep "$DEEP_LEVELS"
  echo "$DEEP_LEVELS" >bench/trees/deep.done
fi

# The btrfs tree lives in an image, mounted for the run and left at its end.
btrfsImage=bench/trees/btrfs.img
btrfsMount=bench/trees/btrfs
btrfsTree=$btrfsMount/tree
btrfs=false
if [ "$(id -u)" -eq 0 ]; then
  mkdir -p "$btrfsMount"
  mountpoint -q "$btrfsMount" && umount "$btrfsMount"
  if [ ! -f bench/trees/btrfs.done ] || [ "$(cat bench/trees/btrfs.done)" != "$BTRFS_SHAPE" ]; then
    echo "== Building the tree $btrfsTree ($BTRFS_SHAPE) on btrfs, once" >&2
    rm -f "$btrfsImage"
    truncate -s 4G "$btrfsImage"
    mkfs.btrfs -q -f "$btrfsImage" >/dev/null 2>&1
    mount -o loop,compress=zstd "$btrfsImage" "$btrfsMount"
    # shellcheck disable=SC2086
    perl bench/make_tree.pl "$btrfsTree" $BTRFS_SHAPE >/dev/null
    sync
    echo "$BTRFS_SHAPE" >bench/trees/btrfs.done
  else
    mount -o loop,compress=zstd "$btrfsImage" "$btrfsMount"
  fi
  trap 'umount "$btrfsMount" 2>/dev/null || true' EXIT
  btrfs=true
fi

# The NTFS tree, 3,000 files, lives in an image ntfs-3g mounts (FUSE) for the
# run; the files of one half are compressed, as NTFS compresses what is made
# in a compressed directory.
ntfsImage=bench/trees/ntfs.img
ntfsMount=bench/trees/ntfs
ntfsTree=$ntfsMount/tree
ntfs=false
if [ "$(id -u)" -eq 0 ] && [ -e /dev/fuse ]; then
  mkdir -p "$ntfsMount"
  mountpoint -q "$ntfsMount" && umount "$ntfsMount"
  if [ ! -f bench/trees/ntfs.done ] || [ "$(cat bench/trees/ntfs.done)" != "$NTFS_SHAPE" ]; then
    echo "== Building the tree $ntfsTree (2 x $NTFS_SHAPE) on NTFS, once" >&2
    rm -f "$ntfsImage"
    truncate -s 256M "$ntfsImage"
    mkntfs -q -F -f "$ntfsImage" >/dev/null 2>&1
    ntfs-3g -o compression "$ntfsImage" "$ntfsMount"
    mkdir -p "$ntfsTree/packed"
    setfattr -h -n system.ntfs_attrib_be -v 0x00000810 "$ntfsTree/packed"
    # shellcheck disable=SC2086
    perl bench/make_tree.pl "$ntfsTree/packed/tree" $NTFS_SHAPE >/dev/null
    # shellcheck disable=SC2086
    perl bench/make_tree.pl "$ntfsTree/plain" $NTFS_SHAPE >/dev/null
    echo "$NTFS_SHAPE" >bench/trees/ntfs.done
  else
    ntfs-3g -o compression "$ntfsImage" "$ntfsMount"
  fi
  trap 'umount "$btrfsMount" 2>/dev/null || true; umount "$ntfsMount" 2>/dev/null || true' EXIT
  ntfs=true
fi

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
    "$(find --version | head -1), $(bfs --version | head -1), $(fdfind --version)," \
    "lsattr $(lsattr -V 2>&1 | awk '{ print $2; exit }')"
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
  for who in packhound packhound1 floor; do
    case $who in
      packhound) command=("$PACKHOUND" -so "$root") ;;
      packhound1) command=(env PACKHOUND_THREADS=1 "$PACKHOUND" -so "$root") ;;
      floor) command=("$FLOOR" "$root") ;;
    esac
    strace -c -f -o "$results/strace-$who-$name.txt" "${command[@]}" >/dev/null || true
    calls=$(awk '$NF == "total" { print $4 }' "$results/strace-$who-$name.txt")
    echo "calls $who $name $calls" >>"$measures"
  done
done

if $btrfs; then
  ours=$("$PACKHOUND" --extents -so -nh "$btrfsTree" | awk '{ print $2 }' || true)
  floor=$("$FLOOR" --extents "$btrfsTree")
  echo "tree btrfs $(find "$btrfsTree" -type f | wc -l) files," \
    "$(du -s --apparent-size --block-size=1M "$btrfsTree" | cut -f1) MB" >>"$measures"
  echo "count btrfs packhound=$ours floor=$floor" >>"$measures"
  echo "compsize $(compsize "$btrfsTree" | tr -s ' ' | tr '\n' ';')" >>"$measures"
fi
if $ntfs; then
  ours=$("$PACKHOUND" -so -nh "$ntfsTree" | awk '{ print $2 }' || true)
  # The files (not directories) whose NTFS attributes getfattr says have 0x800.
  said=$(cd "$ntfsTree" && getfattr -R -h -e hex -n system.ntfs_attrib_be . 2>/dev/null |
    perl -ne 'if (/^# file: (.*)/) { $f = $1 } elsif (/=0x([0-9a-f]+)/) {
      $n++ if !-d $f && (hex($1) & 0x800) } END { print $n + 0 }')
  echo "count ntfs packhound=$ours floor=$said" >>"$measures"
fi

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
peak "packhound -so, 1 thread (empty directory)" env PACKHOUND_THREADS=1 "$PACKHOUND" -so build/bench/empty
peak "floor (empty directory)" "$FLOOR" build/bench/empty
# The peak memory of every command of a hyperfine list (-n NAME COMMAND ...),
# its words split as hyperfine -N splits them, quotes left out.
peak_each() {
  local list=("$@") i
  for ((i = 0; i < ${#list[@]}; i += 3)); do
    # shellcheck disable=SC2086
    peak "${list[i + 1]}" ${list[i + 2]//\'/}
  done
}
commands=()
for name in t1 t2; do
  root=bench/trees/$name
  label=${name^^}
  commands+=(
    -n "floor $label" "$FLOOR $root"
    -n "packhound -so $label" "$PACKHOUND -so $root"
    -n "packhound -so, 1 thread $label" "env PACKHOUND_THREADS=1 $PACKHOUND -so $root"
  )
  if [ "$name" = t1 ]; then
    commands+=(
      -n "packhound -su -nh -ns $label" "$PACKHOUND -su -nh -ns $root"
      -n "packhound --extents -so $label" "$PACKHOUND --extents -so $root"
    )
  fi
  commands+=(
    -n "find -type f $label" "find $root -type f"
    -n "find -printf %s $label" "find $root -type f -printf '%s\n'"
    -n "bfs -printf %s $label" "bfs $root -type f -printf '%s\n'"
    -n "fdfind -S -1m $label" "fdfind -u -t f -S -1m . $root"
    -n "lsattr -R $label" "lsattr -R $root"
  )
done
peak_each "${commands[@]}"

# time_rounds PREFIX COMMAND...: one untimed round, then ROUNDS rounds of the
# commands side by side, each kept as $results/PREFIX-N.json and .txt.
time_rounds() {
  local prefix=$1 round
  shift
  for round in $(seq 0 "$ROUNDS"); do
    echo "-- round $round of $ROUNDS" >&2
    hyperfine -N -i --style basic --runs "$RUNS" --export-json "$results/$prefix-$round.json" \
      "$@" >"$results/$prefix-$round.txt" 2>&1
  done
  rm "$results/$prefix-0.json"
}

echo "== Timing: one warm-up round, then $ROUNDS rounds of $RUNS run(s) per command" >&2
time_rounds round "${commands[@]}"

if $btrfs; then
  echo "== The btrfs tree: one warm-up round, then $ROUNDS rounds" >&2
  btrfsCommands=(
    -n "floor --extents B" "$FLOOR --extents $btrfsTree"
    -n "packhound --extents -so B" "$PACKHOUND --extents -so $btrfsTree"
    -n "packhound --extents -so, 1 thread B" "env PACKHOUND_THREADS=1 $PACKHOUND --extents -so $btrfsTree"
    -n "packhound -so B" "$PACKHOUND -so $btrfsTree"
    -n "compsize B" "compsize $btrfsTree"
  )
  peak_each "${btrfsCommands[@]}"
  time_rounds btrfs "${btrfsCommands[@]}"
else
  echo "btrfs tree skipped: making and mounting a file system needs root" | tee -a "$measures" >&2
fi

if $ntfs; then
  echo "== The NTFS tree: one warm-up round, then $ROUNDS rounds" >&2
  ntfsCommands=(
    -n "packhound -so N" "$PACKHOUND -so $ntfsTree"
    -n "packhound -so, 1 thread N" "env PACKHOUND_THREADS=1 $PACKHOUND -so $ntfsTree"
    -n "getfattr -R N" "getfattr -R -h -n system.ntfs_attrib_be $ntfsTree"
  )
  peak_each "${ntfsCommands[@]}"
  time_rounds ntfs "${ntfsCommands[@]}"
else
  echo "NTFS tree skipped: mounting ntfs-3g needs root and FUSE" | tee -a "$measures" >&2
fi

echo "== The deep tree: three rounds, and peak memory" >&2
deep=bench/trees/deep
deepCommands=(
  -n "packhound -so deep" "$PACKHOUND -so $deep"
  -n "packhound -so, 1 thread deep" "env PACKHOUND_THREADS=1 $PACKHOUND -so $deep"
  -n "find -type f deep" "find $deep -type f"
)
peak_each "${deepCommands[@]}"
for round in 1 2 3; do
  hyperfine -N -i --style basic --runs 1 --export-json "$results/deep-$round.json" \
    "${deepCommands[@]}" >"$results/deep-$round.txt" 2>&1
done

if [ -w /proc/sys/vm/drop_caches ]; then
  echo "== Cold cache: $COLD_ROUNDS rounds, the page cache dropped before every run" >&2
  root=bench/trees/t1
  coldCommands=(
    -n "floor T1 cold" "$FLOOR $root"
    -n "packhound -so T1 cold" "$PACKHOUND -so $root"
    -n "find -type f T1 cold" "find $root -type f"
    -n "bfs -printf %s T1 cold" "bfs $root -type f -printf '%s\n'"
  )
  for round in $(seq 1 "$COLD_ROUNDS"); do
    echo "-- cold round $round of $COLD_ROUNDS" >&2
    hyperfine -N -i --style basic --runs 1 \
      --prepare "sh -c 'sync; echo 3 > /proc/sys/vm/drop_caches'" \
      --export-json "$results/cold-$round.json" "${coldCommands[@]}" >"$results/cold-$round.txt" 2>&1
  done
else
  echo "cold cache skipped: dropping the page cache needs root" | tee -a "$measures" >&2
fi

perl bench/report.pl "$measures" "$results" | tee "$results/report.txt"
