#!/bin/sh
# The program itself on a private session bus (run under dbus-run-session):
# it appears as org.mpris.MediaPlayer2.brisolde with the piece it plays, comes
# forward on Raise and ends on Quit as File > Exit ends it; a start that serves
# embedded objects (-Embedding) claims no such name; and a start without any
# session bus plays and ends as before.
#   program.sh BRISOLDE PIECE WORK-FOLDER
set -u
program=$1
piece=$2
work=$3
rm -rf "$work"
mkdir -p "$work/home" "$work/runtime" "$work/empty-runtime"
chmod 700 "$work/runtime" "$work/empty-runtime"
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/config" XDG_DATA_HOME="$work/home/data"
export XDG_RUNTIME_DIR="$work/runtime" QT_QPA_PLATFORM=offscreen
profile="$XDG_CONFIG_HOME/Tolvern Midi Applications/Brisolde.ini"

fail() {
    echo "FAIL: $*"
    for log in "$work"/*.log; do
        echo "--- $log"
        cat "$log"
    done
    exit 1
}
owned() {
    gdbus call --session --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus \
        --method org.freedesktop.DBus.NameHasOwner "$1" | grep -q true
}
# Waits (at most 30 s) until the command given holds.
until_true() {
    n=0
    while ! "$@" 2>/dev/null; do
        n=$((n + 1))
        [ $n -lt 300 ] || return 1
        sleep 0.1
    done
}
running() { kill -0 "$1" 2>/dev/null; }
stopped() { ! running "$1"; }
playing() { [ "$(playerctl --player=brisolde status)" = Playing ]; }
# Whether process $1 handles signal $2 itself (its start is that far).
catches() {
    mask=$(awk '/^SigCgt:/ { print $2 }' "/proc/$1/status")
    [ $(((0x$mask >> ($2 - 1)) & 1)) -eq 1 ]
}
mpris() {
    gdbus call --session --dest org.mpris.MediaPlayer2.brisolde \
        --object-path /org/mpris/MediaPlayer2 "$@"
}

# The program on the bus, playing the piece of its command line.
"$program" "$piece" >"$work/program.log" 2>&1 &
pid=$!
until_true owned org.mpris.MediaPlayer2.brisolde || fail "the player's name never appeared"
until_true playing || fail "status: $(playerctl --player=brisolde status 2>&1)"
title=$(playerctl --player=brisolde metadata xesam:title)
[ "$title" = brisolde-demo ] || fail "title: $title"
length=$(playerctl --player=brisolde metadata mpris:length)
[ "$length" -gt 1000000 ] || fail "length: $length"
identity=$(mpris --method org.freedesktop.DBus.Properties.Get org.mpris.MediaPlayer2 Identity)
[ "$identity" = "(<'Brisolde'>,)" ] || fail "identity: $identity"
entry=$(mpris --method org.freedesktop.DBus.Properties.Get org.mpris.MediaPlayer2 DesktopEntry)
[ "$entry" = "(<'brisolde'>,)" ] || fail "desktop entry: $entry"
mpris --method org.mpris.MediaPlayer2.Raise >/dev/null || fail "Raise"
mpris --method org.mpris.MediaPlayer2.Quit >/dev/null || fail "Quit"
until_true stopped $pid || fail "Quit did not end the program"
wait $pid
status=$?
[ $status -eq 0 ] || fail "Quit ended the program with status $status"
owned org.mpris.MediaPlayer2.brisolde && fail "the name outlived the program"
grep -qF "File1=$piece" "$profile" || fail "the recent-file list was not saved as Exit saves it"

# A start that serves embedded objects claims no media player's name.
"$program" -Embedding >"$work/embedding.log" 2>&1 &
pid=$!
until_true owned org.tolvern.Brisolde.Document || fail "the embedding server did not start"
owned org.mpris.MediaPlayer2.brisolde && fail "an embedding server claimed the player's name"
[ -z "$(playerctl --list-all 2>/dev/null)" ] || fail "players: $(playerctl --list-all)"
kill $pid
wait $pid

# No session bus at all: no address that works, nothing in the runtime folder.
rm -f "$profile"
DBUS_SESSION_BUS_ADDRESS="unix:path=$work/no-bus" XDG_RUNTIME_DIR="$work/empty-runtime" \
    "$program" "$piece" >"$work/without-bus.log" 2>&1 &
pid=$!
until_true catches $pid 15 || fail "the program without a bus did not start"
sleep 1
running $pid || fail "the program without a bus ended by itself"
kill -TERM $pid
wait $pid
status=$?
[ $status -eq 0 ] || fail "without a bus it ended with status $status"
grep -qF "File1=$piece" "$profile" || fail "without a bus the piece was not opened"

echo "the player on the bus, Quit, no name for -Embedding, and a start without a bus: all as expected"
