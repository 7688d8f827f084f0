#!/usr/bin/env bash
# A dense piece (120 tracks, 201,600 note ons a second, each note shorter than
# a 64-frame block) played in real time into the silent sink by
# brisolde-render --play, beside FluidSynth rendering the same file as fast
# as it can, in one run. Ours must keep real time (the piece's end comes when
# it should) and account for every note: each note on reaches the
# synthesizer or is counted as shed, each note off reaches it. FluidSynth
# plays everything it can: its speed against real time, and the voices it
# failed to start, are shown.
#
#   bench/dense_compare.sh [BUILD_DIR] [SECONDS]   (default build/release, 10 s)
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$top/build/release}
seconds=${2:-10}
render=$build/bin/brisolde-render
sf=/usr/share/sounds/sf2/FluidR3_GM.sf2
[ -f "$sf" ] || sf=/usr/share/sounds/sf2/TimGM6mb.sf2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
command -v fluidsynth >/dev/null || { echo "needs the fluidsynth program"; exit 1; }
[ -x "$render" ] || { echo "no $render: build the release preset first"; exit 1; }

python3 "$top/bench/dense.py" "$work/dense.mid" "$seconds"
echo "== $(basename "$sf"), $("$build/bin/brisolde-inspect" --summary "$work/dense.mid" | tr '\n' ' ')"
echo
echo "-- ours: brisolde-render --play --silent"
/usr/bin/time -f "cpu: %e s elapsed (the piece, then 2 s of its tail), %U s user, %S s system" \
    "$render" --play --silent "$work/dense.mid" --soundfont "$sf" 2>&1 | grep -v '^playing'
echo
echo "-- fluidsynth -F (reverb on, chorus off, polyphony 256, 44100 Hz)"
/usr/bin/time -f "%e %U" -o "$work/fs.time" fluidsynth -ni -o synth.polyphony=256 \
    -o synth.chorus.active=0 -r 44100 -F "$work/fs.wav" "$sf" "$work/dense.mid" \
    >/dev/null 2>"$work/fs.log" || true
read -r wall user <"$work/fs.time"
failed=$(grep -c 'Failed to allocate' "$work/fs.log" || true)
python3 - "$work/fs.wav" "$wall" "$user" "$failed" "$seconds" <<'PY'
import sys, wave
w = wave.open(sys.argv[1])
audio = w.getnframes() / w.getframerate()
wall, user, failed, piece = float(sys.argv[2]), float(sys.argv[3]), int(sys.argv[4]), float(sys.argv[5])
print("rendered %.1f s of audio (the %.0f s piece and its tail) in %.2f s: %.2fx real time, %.2f s user"
      % (audio, piece, wall, audio / wall, user))
print("voices it could not start (\"Failed to allocate a synthesis process\"): %d" % failed)
PY
