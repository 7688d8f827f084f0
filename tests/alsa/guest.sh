#!/usr/bin/env bash
# Runs a command inside a small virtual machine with a real ALSA sequencer
# (shared/tools/alsa-vm/run), with the host's programs and libraries and the
# build folder shared. Exit 77 (skipped) when the machine cannot start.
#
#   guest.sh RUN BUILD_DIR COMMAND
set -uo pipefail
run=$1
build=$2
shift 2
if [ ! -x "$run" ]; then
    echo "skipped: no virtual machine tool at $run"
    exit 77
fi
log=$(mktemp)
trap 'rm -f "$log"' EXIT
# Sanitizer builds need room: the machine gets 2 GiB.
"$run" -H -m 2048 -t 600 -d "$build" -C "$build" -- "$*" 2>&1 | tee "$log"
rc=${PIPESTATUS[0]}
# A machine that never reached the command (no emulator, no kernel image, no
# status) says nothing about our code.
if ! grep -q "command output" "$log" || [ "$rc" -eq 125 ]; then
    echo "skipped: the virtual machine did not start"
    exit 77
fi
case $rc in
124)
    echo "the command timed out inside the virtual machine"
    exit 1
    ;;
esac
exit $rc
