#!/usr/bin/env bash
# Builds the loader's fuzz target with clang (libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs it for a bounded time on our own seeds
# plus the shared corpus of real files, when it is beside the checkout.
# A crash, a failed check or a leak fails the run.
#
#   fuzz/run.sh [seconds]     default 60
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
seconds=${1:-60}
build=$top/build/fuzz

cmake -S "$top/fuzz" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_COMPILER=clang++-14 >/dev/null
cmake --build "$build" -j 2 --target loader_fuzz

seeds=$build/seeds
found=$build/found
rm -rf "$seeds"
mkdir -p "$seeds" "$found"
python3 "$top/fuzz/make_seeds.py" "$seeds"
corpora=("$found" "$seeds")
shared=$top/../shared/corpus
if [ -d "$shared" ]; then
    corpora+=("$shared")
else
    echo "No shared corpus at $shared; fuzzing from our own seeds only."
fi

"$build/loader_fuzz" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -max_len=65536 -print_final_stats=1 -artifact_prefix="$build/" "${corpora[@]}"
