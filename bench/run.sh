#!/usr/bin/env bash
# Times the walk against the tools a user would pick instead, side by side in
# one run, on a reproducible tree built once and kept under bench/trees/.
#
#   bench/run.sh            build what is missing, then time every command
#   RUNS=20 bench/run.sh    more timed runs per command (default 10)
#
# Prints hyperfine's report, then each command's median and its ratio to
# `find TREE -type f`. Results are kept in bench/results/ (git-ignored).
set -euo pipefail
cd "$(dirname "$0")/.."

RUNS=${RUNS:-10}
WARMUP=${WARMUP:-3}

# The tree: about 200,000 empty files in 20,000 directories up to 8 levels
# deep, names of 6 to 20 characters, 5% of the files marked compressed.
TREE_SHAPE="20000 200000 8 5 20240607"
TREE=bench/trees/t1
STAMP=bench/trees/t1.done

missing=()
command -v hyperfine >/dev/null 2>&1 || missing+=(hyperfine)
command -v chattr >/dev/null 2>&1 || missing+=(e2fsprogs)
command -v perl >/dev/null 2>&1 || missing+=(perl)
command -v cmake >/dev/null 2>&1 || missing+=(cmake)
command -v ninja >/dev/null 2>&1 || missing+=(ninja-build)
command -v g++ >/dev/null 2>&1 || missing+=(g++)
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  echo "Installing ${missing[*]}" >&2
  $sudo apt-get update -qq >&2
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
fi

echo "== Building (release)" >&2
cmake --preset release >/dev/null
cmake --build --preset release >/dev/null
cmake -S bench -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/bench >/dev/null

if [ ! -f "$STAMP" ] || [ "$(cat "$STAMP")" != "$TREE_SHAPE" ]; then
  echo "== Building the tree $TREE ($TREE_SHAPE), once" >&2
  rm -rf "$TREE"
  mkdir -p bench/trees
  # shellcheck disable=SC2086
  perl bench/make_tree.pl "$TREE" $TREE_SHAPE >bench/trees/t1.compressed
  if ! xargs -0 -r chattr +c <bench/trees/t1.compressed 2>bench/trees/t1.chattr.log; then
    echo "warning: chattr +c was refused here (see bench/trees/t1.chattr.log);" \
      "the tree has no compressed files" >&2
  fi
  echo "$TREE_SHAPE" >"$STAMP"
fi

files=$(find "$TREE" -type f | wc -l)
directories=$(find "$TREE" -type d | wc -l)
marked=$(tr -cd '\0' <bench/trees/t1.compressed | wc -c)
echo "== Tree: $files files in $directories directories, $marked marked compressed" >&2
echo "   walk_engine says: $(build/bench/walk_engine "$TREE")" >&2

# The engine alone, counting, then listing the ~95% uncompressed files with
# one flushed line each (output to /dev/null).
commands=(
  -n "walk_engine" "build/bench/walk_engine $TREE"
  -n "walk_engine -l -u" "build/bench/walk_engine -l -u $TREE"
)
# The program itself, once its driver prints a summary.
if build/release/packhound -so "$TREE" 2>/dev/null | grep -q "examined"; then
  commands+=(
    -n "packhound -so" "build/release/packhound -so $TREE"
    -n "packhound -su -nh -ns" "build/release/packhound -su -nh -ns $TREE"
  )
else
  echo "   (build/release/packhound has no search yet: timing the engine driver only)" >&2
fi
commands+=(
  -n "find -type f" "find $TREE -type f"
  -n "find -printf %s" "find $TREE -type f -printf '%s\n'"
  -n "lsattr -R" "lsattr -R $TREE"
)

mkdir -p bench/results
results=bench/results/latest.csv
hyperfine -N --warmup "$WARMUP" --runs "$RUNS" --export-csv "$results" "${commands[@]}"

echo
echo "Medians, and ratio to find -type f (lower is faster):"
awk -F, '
  NR == 1 { for (i = 1; i <= NF; i++) column[$i] = i; next }
  { name[NR] = $column["command"]; median[NR] = $column["median"]
    if ($column["command"] == "find -type f") reference = $column["median"] }
  END {
    for (i = 2; i <= NR; i++)
      printf "  %-18s %9.1f ms   %6.2f x\n", name[i], median[i] * 1000, median[i] / reference
  }' "$results"
