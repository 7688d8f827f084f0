#!/usr/bin/env bash
# Loads the benchmark's generated 32 MB, 32-track MIDI file with our loader
# (Google Benchmark: read, parse and merge into a segment) and, in the same run
# on the same file, times Debian's midicsv and smfsh (libsmf) reading it.
#
#   bench/compare.sh      builds the release configuration first
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$top"
cmake --preset release >/dev/null
cmake --build --preset release -j 2 --target loader_bench brisolde-make-bench-file brisolde-inspect
bin=$top/build/release/bin

file=$(mktemp --suffix=.mid)
trap 'rm -f "$file"' EXIT
"$bin/brisolde-make-bench-file" "$file"
bytes=$(stat -c %s "$file")
echo "File: $bytes bytes, $("$bin/brisolde-inspect" --summary "$file" | tr '\n' ' ')"
echo

"$bin/loader_bench" --benchmark_min_time=2
echo

# Best wall time of three runs of a command, as seconds and MB/s of the file.
best_of_three() {
    local label=$1 best=0 start end took
    shift
    for _ in 1 2 3; do
        start=$(date +%s%N)
        "$@" >/dev/null 2>&1 || true
        end=$(date +%s%N)
        took=$((end - start))
        if [ "$best" -eq 0 ] || [ "$took" -lt "$best" ]; then
            best=$took
        fi
    done
    awk -v label="$label" -v ns="$best" -v bytes="$bytes" 'BEGIN {
        printf "%-44s %8.3f s %9.1f MB/s\n", label, ns / 1e9, bytes / 1048576 / (ns / 1e9) }'
}

echo "Whole programs on the same file (best of three, process start included):"
best_of_three "brisolde-inspect --summary (load, count)" "$bin/brisolde-inspect" --summary "$file"
if command -v midicsv >/dev/null; then
    best_of_three "midicsv (read, write CSV to /dev/null)" midicsv "$file" /dev/null
else
    echo "midicsv not installed (Debian package midicsv)"
fi
if command -v smfsh >/dev/null; then
    best_of_three "smfsh (libsmf: load, exit)" sh -c 'echo exit | smfsh "$1"' sh "$file"
else
    echo "smfsh not installed (Debian package smf-utils)"
fi
