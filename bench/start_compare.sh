#!/usr/bin/env bash
# From start to the main window shown, measured from outside (the first
# top-level window mapped on the X display, bench/windowshown.c), and the
# player's resident memory then and while it plays the demo, best of
# interleaved runs; beside FluidSynth's time to its first audio (a
# one-note file rendered with -F) and its resident memory, in the same run.
#
#   bench/start_compare.sh [BUILD_DIR [BEFORE_BUILD_DIR]] [RUNS]
#   (default build/release, 7 runs; needs libx11-dev and xvfb)
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$top/build/release}
before=${2:-}
runs=${3:-7}
sf=/usr/share/sounds/sf2/FluidR3_GM.sf2
[ -f "$sf" ] || sf=/usr/share/sounds/sf2/TimGM6mb.sf2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
if [ -z "${DISPLAY:-}" ] && [ -z "${START_COMPARE_IN_XVFB:-}" ]; then
    exec env START_COMPARE_IN_XVFB=1 xvfb-run -a "$0" "$@"
fi
cc -O2 -o "$work/windowshown" "$top/bench/windowshown.c" -lX11

# windowshown SECONDS BIN [FILE]: "shown MS resident KIB", a fresh home each time.
shown() {
    local home=$work/home-$RANDOM
    mkdir -p "$home/config/Tolvern Midi Applications"
    printf '[Settings]\nLoop=0\n' >"$home/config/Tolvern Midi Applications/Brisolde.ini"
    HOME=$home XDG_CONFIG_HOME=$home/config XDG_DATA_HOME=$home/data \
        "$work/windowshown" "$1" "$2/bin/brisolde" ${3:+"$3"} 2>/dev/null | tr '\n' ' '
    echo
    rm -f "$2/bin/brisolde.err"
}
best() { sort -n | head -n 1; }

builds=("$build")
[ -n "$before" ] && builds+=("$before")
declare -A show rss play
python3 - "$work/one.mid" <<'PY'
import struct, sys
track = b"\x00\x90\x3c\x64\x60\x80\x3c\x00\x00\xff\x2f\x00"
open(sys.argv[1], "wb").write(b"MThd" + struct.pack(">IHHH", 6, 0, 1, 96) +
                              b"MTrk" + struct.pack(">I", len(track)) + track)
PY
for ((i = 0; i < runs; i++)); do
    for b in "${builds[@]}"; do
        read -r _ ms _ kib < <(shown 1 "$b")
        show[$b]+="$ms"$'\n'
        rss[$b]+="$kib"$'\n'
    done
    /usr/bin/time -f "%e %M" -o "$work/fs.time" fluidsynth -ni -q -F "$work/one.wav" "$sf" \
        "$work/one.mid" >/dev/null 2>&1
    read -r s kib <"$work/fs.time"
    show[fluidsynth]+="$(python3 -c "print($s * 1000)")"$'\n'
    rss[fluidsynth]+="$kib"$'\n'
done
for b in "${builds[@]}"; do
    read -r _ _ _ kib < <(shown 4 "$b" "$top/demo/brisolde-demo.mid")
    play[$b]=$kib
done

echo "== Start to window shown, $(basename "$sf") installed, best of $runs"
for b in "${builds[@]}"; do
    label=brisolde
    [ "$b" = "$before" ] && label="brisolde before"
    printf '%-18s window shown %6.1f ms   resident %4d MiB at rest, %4d MiB playing the demo\n' \
        "$label" "$(echo -n "${show[$b]}" | best)" "$(( $(echo -n "${rss[$b]}" | best) / 1024 ))" \
        "$(( ${play[$b]} / 1024 ))"
done
printf '%-18s first audio  %6.1f ms   resident %4d MiB (fluidsynth -F of one note)\n' fluidsynth \
    "$(echo -n "${show[fluidsynth]}" | best)" "$(( $(echo -n "${rss[fluidsynth]}" | best) / 1024 ))"
