#!/usr/bin/env bash
# The built-in synthesizer against FluidSynth's own file renderer, in one run:
# rendering speed on real General MIDI files, onset accuracy on isolated hits,
# and the player's CPU time while playing in real time into the silent sink.
#
#   bench/synth_compare.sh [BUILD_DIR]     (default build/release)
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$top/build/release}
render=$build/bin/brisolde-render
sf=/usr/share/sounds/sf2/TimGM6mb.sf2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
command -v fluidsynth >/dev/null || { echo "needs the fluidsynth program"; exit 1; }

seconds() { /usr/bin/time -f %e "$@" 2>&1 >/dev/null | tail -n 1; }

echo "== Rendering speed (44100 Hz, polyphony 256, $(basename $sf))"
files=("$top/demo/brisolde-demo.mid")
corpus=$top/../shared/corpus
for f in "$corpus/tonejs/bach/"*.mid "$corpus/nfroidure/"*/*.mid; do
    [ -f "$f" ] && files+=("$f")
    [ ${#files[@]} -ge 6 ] && break
done
total_ours=0
total_theirs=0
for f in "${files[@]}"; do
    ours=$(seconds "$render" "$f" "$work/ours.wav" --soundfont "$sf" --rate 44100)
    theirs=$(seconds fluidsynth -ni -q -o synth.polyphony=256 -r 44100 -F "$work/theirs.wav" "$sf" "$f")
    len=$(python3 -c "import wave,sys; w=wave.open(sys.argv[1]); print('%.1f' % (w.getnframes()/w.getframerate()))" "$work/ours.wav")
    printf '%-40s %6ss of audio  ours %6ss  fluidsynth -F %6ss\n' "$(basename "$f")" "$len" "$ours" "$theirs"
    total_ours=$(python3 -c "print($total_ours + $ours)")
    total_theirs=$(python3 -c "print($total_theirs + $theirs)")
done
python3 -c "print('total: ours %.2fs, fluidsynth -F %.2fs, ratio (theirs/ours) %.2f' % ($total_ours, $total_theirs, $total_theirs / max($total_ours, 1e-9)))"

echo
echo "== Onsets of isolated hits against the tempo map (frames at 44100 Hz)"
python3 "$top/bench/onsets.py" make "$work/hits.mid"
"$render" "$work/hits.mid" "$work/ours.wav" --soundfont "$sf" --rate 44100 --dry
fluidsynth -ni -q -o synth.reverb.active=0 -o synth.chorus.active=0 -r 44100 -F "$work/theirs.wav" "$sf" "$work/hits.mid"
printf 'ours:          '; python3 "$top/bench/onsets.py" measure "$work/hits.mid" "$work/ours.wav"
printf 'fluidsynth -F: '; python3 "$top/bench/onsets.py" measure "$work/hits.mid" "$work/theirs.wav"

echo
echo "== CPU while playing the demo in real time into the silent sink"
/usr/bin/time -f "%e s elapsed, %U s user, %S s system" "$render" --play --silent \
    "$top/demo/brisolde-demo.mid" --soundfont "$sf" 2>&1 | tail -n 1
