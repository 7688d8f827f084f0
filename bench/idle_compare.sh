#!/usr/bin/env bash
# The player at rest, beside FluidSynth at rest, in one run: CPU and
# wake-ups a second (voluntary and involuntary context switches of all
# threads, from /proc) over a stretch with nothing playing and every voice
# silent. The player runs under Xvfb (or the display there is) with a private
# home; it is measured once just started and once after it has played a
# short piece to its end. FluidSynth runs its real-time file driver into
# /dev/null (no sound card here) as a server waiting for MIDI.
#
#   bench/idle_compare.sh [BUILD_DIR [BEFORE_BUILD_DIR]] (default build/release)
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$top/build/release}
before=${2:-}
secs=10
sf=/usr/share/sounds/sf2/FluidR3_GM.sf2
[ -f "$sf" ] || sf=/usr/share/sounds/sf2/TimGM6mb.sf2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
if [ -z "${DISPLAY:-}" ] && [ -z "${IDLE_COMPARE_IN_XVFB:-}" ]; then
    exec env IDLE_COMPARE_IN_XVFB=1 xvfb-run -a "$0" "$@"
fi

switches() { # all threads of $1, voluntary and involuntary
    cat /proc/"$1"/task/*/status 2>/dev/null |
        awk '/ctxt_switches/ { n += $2 } END { print n + 0 }'
}
ticks() { awk '{ print $14 + $15 }' /proc/"$1"/stat; }
measure() { # PID LABEL
    local s1 c1 s2 c2
    s1=$(switches "$1") c1=$(ticks "$1")
    sleep "$secs"
    s2=$(switches "$1") c2=$(ticks "$1")
    python3 -c "print('%-44s %7.1f wake-ups/s  %5.2f %% of a core' % ('$2', ($s2 - $s1) / $secs, 100.0 * ($c2 - $c1) / $(getconf CLK_TCK) / $secs))"
}
player() { # BIN LABEL [FILE]
    local home=$work/home-$RANDOM
    # Loop off: the short piece plays once.
    mkdir -p "$home/config/Tolvern Midi Applications"
    printf '[Settings]\nLoop=0\n' >"$home/config/Tolvern Midi Applications/Brisolde.ini"
    HOME=$home XDG_CONFIG_HOME=$home/config XDG_DATA_HOME=$home/data \
        "$1/bin/brisolde" ${3:+"$3"} >/dev/null 2>&1 &
    local pid=$!
    # Started (or the short piece played to its end and its notes died away).
    sleep 4
    measure "$pid" "$2"
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    rm -f "$1/bin/brisolde.err"
}

python3 "$top/bench/dense.py" "$work/short.mid" 0.5 1
echo "== At rest for $secs s, $(basename "$sf") installed"
player "$build" "brisolde, just started"
player "$build" "brisolde, after playing a short piece" "$work/short.mid"
if [ -n "$before" ]; then
    player "$before" "brisolde before, just started"
    player "$before" "brisolde before, after playing a short piece" "$work/short.mid"
fi
fluidsynth -a file -o audio.file.name=/dev/null -si "$sf" </dev/null >/dev/null 2>&1 &
fs=$!
sleep 4
measure "$fs" "fluidsynth -a file -si, idle"
kill "$fs" 2>/dev/null || true
wait "$fs" 2>/dev/null || true
