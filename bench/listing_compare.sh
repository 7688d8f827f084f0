#!/usr/bin/env bash
# The right pane listing a folder of 100,000 files (50,000 MIDI files)
# against `ls -l` on the same folder, in one run.
#
#   bench/listing_compare.sh [BUILD_DIR]     (default build/release)
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$top/build/release}
folder=$(mktemp -d)
trap 'rm -rf "$folder"' EXIT
export BRISOLDE_LISTING_DIR=$folder/listing
"$build/bin/listing_bench" --benchmark_min_time=0.01 >/dev/null # makes the folder
ls -f "$BRISOLDE_LISTING_DIR" > /dev/null # warm the cache for both
echo "== ls -l on the same folder (3 runs)"
for i in 1 2 3; do
    /usr/bin/time -f "ls -l: %e s" ls -l "$BRISOLDE_LISTING_DIR" > /dev/null
done
echo "== The right pane filling itself"
"$build/bin/listing_bench"
