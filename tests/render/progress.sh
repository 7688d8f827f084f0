#!/bin/sh
# brisolde-render on a terminal (a pseudo-terminal from script(1)) shows how
# far a piece that takes more than a moment is, and wipes that line before
# its summary; with standard error in a file it adds nothing there.
#   progress.sh BRISOLDE-RENDER WORK-FOLDER
set -eu
render=$1
work=$2
mkdir -p "$work"
trap 'rm -f "$work/piece.wav"' EXIT

# A chord of 48 organ notes held for ten minutes (1200 quarters at 120 a
# minute), so that rendering it is work enough.
byte() { printf "\\$(printf '%03o' "$1")"; }
# Keys 36 to 83 at once with velocity $1, in running status.
chord() {
    n=36
    while [ $n -lt 84 ]; do
        [ $n -eq 36 ] || byte 0
        byte $n
        byte "$1"
        n=$((n + 1))
    done
}
{
    printf 'MThd\000\000\000\006\000\000\000\001\000\140MTrk\000\000\001\053'
    printf '\000\300\023\000\220'
    chord 64
    printf '\207\204\000\200'
    chord 0
    printf '\000\377\057\000'
} >"$work/piece.mid"

# At 8000 frames a second, so that the files stay small.
script -qec "'$render' '$work/piece.mid' '$work/piece.wav' --dry --rate 8000" /dev/null \
    >"$work/terminal.txt"
grep -q 'rendering: [0-9]*:[0-9][0-9] of 10:00 ([0-9]*%)' "$work/terminal.txt" ||
    { echo "no progress on the terminal:"; cat -v "$work/terminal.txt"; exit 1; }
grep -q "$(printf '\r\033')\[K$work/piece.wav: 60[0-9.]* s of audio" "$work/terminal.txt" ||
    { echo "the progress line is not wiped before the summary:"; cat -v "$work/terminal.txt"; exit 1; }

"$render" "$work/piece.mid" "$work/piece.wav" --dry --rate 8000 >"$work/out.txt" 2>"$work/err.txt"
test ! -s "$work/err.txt" || { echo "progress in a file:"; cat -v "$work/err.txt"; exit 1; }
grep -q "^$work/piece.wav: 60[0-9.]* s of audio$" "$work/out.txt"
echo "progress shown on a terminal only"
