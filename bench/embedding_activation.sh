#!/bin/bash
# How long in-place activation takes, from the container's request to the
# object's panes shown in its site: warm (server running, N activations and
# deactivations) and cold (the bus starts a new server for each of M objects).
# Runs under a virtual X server and a private session bus.
#   bench/embedding_activation.sh [BUILD_DIR] [N] [M]
set -u
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build/release}
[ -x "$build/bin/embed-container" ] || build=$top/build/dev
export N=${2:-50} M=${3:-10}
export BRISOLDE=$build/bin/brisolde CONTAINER=$build/bin/embed-container
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work"/{runtime,data,config,home}
chmod 700 "$work/runtime"
export HOME=$work/home XDG_RUNTIME_DIR=$work/runtime XDG_DATA_HOME=$work/data XDG_CONFIG_HOME=$work/config
unset DBUS_SESSION_BUS_ADDRESS
timeout 600 xvfb-run -a -s "-screen 0 1024x768x24 -noreset" dbus-run-session -- bash ${BENCH_TRACE:+-x} -c '
c() { gdbus call --session --dest org.tolvern.TestContainer.c1 --object-path /Container \
        --method "org.tolvern.TestContainer.$1" "${@:2}" | sed -e "s/^(.//" -e "s/.,)$//"; }
stats() { cat > "$HOME/times"; sort -n "$HOME/times" | awk "{v[NR]=\$1; s+=\$1} END {printf \"median %d ms, mean %.1f ms, max %d ms (%d runs)\n\", v[int((NR+1)/2)], s/NR, v[NR], NR}"; }
"$BRISOLDE" -Register
"$CONTAINER" --id 1 2>/dev/null & cpid=$!
for _ in $(seq 100); do c State 2>/dev/null | grep -q object= && break; sleep 0.05; done
c InsertObject >/dev/null
c ResizeObject 420 260 >/dev/null
for _ in $(seq $N); do
    c ActivateInPlace | tr " " "\n" | sed -n "s/^shown=//p"
    c Deactivate >/dev/null
done | stats | sed "s/^/warm (server running), request to panes shown: /"
c SaveDocument "$HOME/doc.tcd" >/dev/null
c Quit >/dev/null; wait $cpid
for _ in $(seq $M); do
    "$CONTAINER" --id 1 --load "$HOME/doc.tcd" 2>/dev/null & cpid=$!
    for _ in $(seq 100); do c State 2>/dev/null | grep -q object= && break; sleep 0.05; done
    c ActivateInPlace | tr " " "\n" | awk -F= "/^start=/{s=\$2} /^shown=/{print s + \$2}"
    c Quit >/dev/null; wait $cpid
    sleep 0.2
done | stats | sed "s/^/cold (bus starts the server), request to panes shown: /"
' 2>"$work/log"; status=$?; [ -n "${BENCH_TRACE:-}" ] && cat "$work/log"; exit $status
