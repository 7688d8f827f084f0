#!/usr/bin/env bash
# The built-in synthesizer against FluidSynth's own file renderer, in one run:
# rendering speed on real General MIDI files (whole processes, the best of
# interleaved runs), onset accuracy on isolated hits, and the player's CPU
# time while playing in real time into the silent sink.
#
#   bench/synth_compare.sh [BUILD_DIR] [RUNS] [BEFORE_BUILD_DIR]
#   (default build/release, 3 runs; BEFORE_BUILD_DIR adds an earlier build)
#
# Both render at 44100 Hz with polyphony 256 and the same effects (reverb on,
# chorus off: what the player asks of its port); FluidSynth is shown with its
# default single rendering thread and with synth.cpu-cores=2, the setting
# brisolde-render uses on a two-core machine. The SoundFont is FluidR3_GM
# where installed (fluid-soundfont-gm), else TimGM6mb.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$top/build/release}
runs=${2:-3}
before=${3:-}
render=$build/bin/brisolde-render
sf=/usr/share/sounds/sf2/FluidR3_GM.sf2
[ -f "$sf" ] || sf=/usr/share/sounds/sf2/TimGM6mb.sf2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
command -v fluidsynth >/dev/null || { echo "needs the fluidsynth program"; exit 1; }
[ -x "$render" ] || { echo "no $render: build the release preset first"; exit 1; }

seconds() { /usr/bin/time -f %e "$@" 2>&1 >/dev/null | tail -n 1; }
min() { python3 -c "import sys; print(min(float(x) for x in sys.argv[1:]))" "$@"; }
sum() { python3 -c "import sys; print('%.2f' % sum(float(x) for x in sys.argv[1:]))" "$@"; }

fs=(fluidsynth -ni -q -o synth.polyphony=256 -o synth.chorus.active=0 -r 44100)

echo "== Rendering speed (44100 Hz, polyphony 256, reverb on, chorus off, $(basename "$sf"), best of $runs)"
files=("$top/demo/brisolde-demo.mid")
corpus=$top/../shared/corpus
for f in "$corpus/tonejs/bach/"*.mid "$corpus/nfroidure/"*/*.mid; do
    [ -f "$f" ] && files+=("$f")
    [ ${#files[@]} -ge 6 ] && break
done
ours_all=() one_all=() two_all=() before_all=()
audio_total=0
for f in "${files[@]}"; do
    ours=() one=() two=() old=(0)
    for ((i = 0; i < runs; i++)); do
        ours+=("$(seconds "$render" "$f" "$work/ours.wav" --soundfont "$sf" --rate 44100)")
        one+=("$(seconds "${fs[@]}" -F "$work/one.wav" "$sf" "$f")")
        two+=("$(seconds "${fs[@]}" -o synth.cpu-cores=2 -F "$work/two.wav" "$sf" "$f")")
        [ -n "$before" ] && old+=("$(seconds "$before/bin/brisolde-render" "$f" "$work/old.wav" --soundfont "$sf" --rate 44100)")
    done
    [ -n "$before" ] && old=("${old[@]:1}")
    o=$(min "${ours[@]}") a=$(min "${one[@]}") b=$(min "${two[@]}") p=$(min "${old[@]}")
    ours_all+=("$o") one_all+=("$a") two_all+=("$b") before_all+=("$p")
    len=$(python3 -c "import wave,sys; w=wave.open(sys.argv[1]); print('%.1f' % (w.getnframes()/w.getframerate()))" "$work/ours.wav")
    audio_total=$(python3 -c "print($audio_total + $len)")
    printf '%-28s %6ss of audio  ours %6ss  fluidsynth -F %6ss  (cpu-cores=2 %6ss)%s\n' \
        "$(basename "$f")" "$len" "$o" "$a" "$b" "${before:+  before $p s}"
done
o=$(sum "${ours_all[@]}") a=$(sum "${one_all[@]}") b=$(sum "${two_all[@]}") p=$(sum "${before_all[@]}")
python3 -c "print('total for %.1f s of audio: ours %.2f s, fluidsynth -F %.2f s (ours/theirs %.2f), with cpu-cores=2 %.2f s (ours/theirs %.2f)' % ($audio_total, $o, $a, $o / $a, $b, $o / $b))"
[ -n "$before" ] && echo "before: $p s" || true

echo
# TimGM6mb's side stick starts at once and dies within half a second.
hits=/usr/share/sounds/sf2/TimGM6mb.sf2
echo "== Onsets of isolated hits against the tempo map (frames at 44100 Hz, $(basename "$hits"))"
python3 "$top/bench/onsets.py" make "$work/hits.mid"
"$render" "$work/hits.mid" "$work/ours.wav" --soundfont "$hits" --rate 44100 --dry >/dev/null
fluidsynth -ni -q -o synth.reverb.active=0 -o synth.chorus.active=0 -r 44100 -F "$work/theirs.wav" "$hits" "$work/hits.mid"
printf 'ours:          '; python3 "$top/bench/onsets.py" measure "$work/hits.mid" "$work/ours.wav"
printf 'fluidsynth -F: '; python3 "$top/bench/onsets.py" measure "$work/hits.mid" "$work/theirs.wav"

echo
echo "== CPU while playing the demo in real time into the silent sink"
/usr/bin/time -f "%e s elapsed, %U s user, %S s system" "$render" --play --silent \
    "$top/demo/brisolde-demo.mid" --soundfont "$sf" 2>&1 | tail -n 1
