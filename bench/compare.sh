#!/usr/bin/env bash
# Loads the generated benchmark pieces with our loader, as whole processes,
# beside Debian's midicsv and smfsh (libsmf) on the same files in the same run,
# and beside the floor no loader can beat (a process that only reads the file
# and writes 8 bytes an event): the 32 MB, 32-track file and, with --huge, the
# 307 MB one of about 100 million events. Then the Google Benchmark figures of
# the loader alone.
#
#   bench/compare.sh [--huge] [--runs N] [--fifo] [--before DIR]
#
#   --runs N     runs of each program, interleaved (default 5); the best counts
#   --fifo       run every program at real-time priority (root only), so that
#                other work on the machine disturbs the figures less
#   --before DIR also time DIR/brisolde-inspect, an earlier build, alike
#
# Builds the release configuration first. Figures: the best wall time of the
# runs (process start and exit included) and the peak resident memory of that
# run, also per event of the piece.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
huge=0
runs=5
prefix=()
before=
while [ $# -gt 0 ]; do
    case $1 in
    --huge) huge=1 ;;
    --runs) runs=$2; shift ;;
    --fifo) prefix=(chrt -f 10) ;;
    --before) before=$2; shift ;;
    *) echo "usage: $0 [--huge] [--runs N] [--fifo] [--before DIR]" >&2; exit 2 ;;
    esac
    shift
done

cd "$top"
cmake --preset release >/dev/null
cmake --build --preset release -j 2 --target loader_bench brisolde-make-bench-file brisolde-inspect \
    brisolde-bench-floor
bin=$top/build/release/bin
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# One timed run: prints "NANOSECONDS KILOBYTES" (peak resident memory).
run_once() {
    local start end
    start=$(date +%s%N)
    "${prefix[@]}" /usr/bin/time -f %M -o "$work/rss" "$@" >/dev/null 2>&1 || true
    end=$(date +%s%N)
    echo "$((end - start)) $(tail -n 1 "$work/rss")"
}

# Times every program of the list on FILE, `runs` times each, interleaved.
compare() {
    local file=$1 events=$2
    shift 2
    local -a labels=() best=() rss=()
    local i n
    for ((i = 0; i < $#; i += 2)); do
        labels+=("${@:i+1:1}")
        best+=(0)
        rss+=(0)
    done
    for ((n = 0; n < runs; n++)); do
        for ((i = 0; i < ${#labels[@]}; i++)); do
            local command=${@:2 * i + 2:1}
            # shellcheck disable=SC2086
            read -r ns kb < <(run_once $command)
            if [ "${best[i]}" -eq 0 ] || [ "$ns" -lt "${best[i]}" ]; then
                best[i]=$ns
                rss[i]=$kb
            fi
        done
    done
    for ((i = 0; i < ${#labels[@]}; i++)); do
        awk -v label="${labels[i]}" -v ns="${best[i]}" -v kb="${rss[i]}" -v events="$events" \
            'BEGIN { printf "  %-44s %8.3f s %8.0f MB peak %7.2f B/event\n",
                     label, ns / 1e9, kb / 1024, kb * 1024 / events }'
    done
}

piece() {
    local name=$1 file=$2
    local summary events bytes
    summary=$("$bin/brisolde-inspect" --summary "$file")
    events=$(echo "$summary" | awk '/^events/ { print $2 }')
    bytes=$(stat -c %s "$file")
    echo "$name: $bytes bytes, $events events ($(echo "$summary" | head -n 1))"
    local -a programs=("brisolde-inspect --summary (load, count)" "$bin/brisolde-inspect --summary $file"
        "floor: read the file, write 8 B an event" "$bin/brisolde-bench-floor $file $events")
    if [ -n "$before" ]; then
        programs+=("earlier brisolde-inspect --summary" "$before/brisolde-inspect --summary $file")
    fi
    if command -v midicsv >/dev/null; then
        programs+=("midicsv (read, write CSV to /dev/null)" "midicsv $file /dev/null")
    else
        echo "  midicsv not installed (Debian package midicsv)"
    fi
    # smfsh keeps about 120 bytes an event: not on the huge file.
    if command -v smfsh >/dev/null && [ "$events" -lt 20000000 ]; then
        printf '#!/bin/sh\necho exit | exec smfsh "$1"\n' >"$work/smfsh-load"
        chmod +x "$work/smfsh-load"
        programs+=("smfsh (libsmf: load, exit)" "$work/smfsh-load $file")
    fi
    compare "$file" "$events" "${programs[@]}"
    echo
}

"$bin/brisolde-make-bench-file" "$work/bench.mid"
piece "32 MB piece" "$work/bench.mid"
if [ "$huge" -eq 1 ]; then
    "$bin/brisolde-make-bench-file" --huge "$work/huge.mid"
    piece "307 MB piece" "$work/huge.mid"
fi

echo "The loader alone (Google Benchmark):"
filter='-Huge'
[ "$huge" -eq 1 ] && filter='.'
"${prefix[@]}" "$bin/loader_bench" --benchmark_min_time=1 --benchmark_filter="$filter"
