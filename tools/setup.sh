#!/usr/bin/env bash
# Set-up for Brisolde on Debian 12: installs what the build, the program and
# the tests need (only what is missing), builds, then starts the player or
# runs the whole test suite.
#
#   tools/setup.sh run    build the release configuration and start the player
#   tools/setup.sh test   build the development configuration and run every test
#   tools/setup.sh deps   only install what is missing
set -euo pipefail

mode=${1:-}
case "$mode" in
run | test | deps) ;;
*)
    echo "usage: $0 run|test|deps" >&2
    exit 2
    ;;
esac

top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$top"

# Everything the build, the program and the tests use, toolchain included.
packages=(
    # toolchain
    g++ cmake ninja-build pkg-config binutils clang-14 libclang-rt-14-dev clang-format-14
    # libraries
    qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins libgl-dev
    libfluidsynth-dev timgm6mb-soundfont libasound2-dev libdw-dev libunwind-dev
    # tests and benchmarks
    libgtest-dev libgmock-dev libbenchmark-dev python3-mido midicsv smf-utils fluidsynth time
    xvfb xauth fonts-dejavu-core locales
    # the virtual machine with a real ALSA sequencer (tests labelled "alsa")
    qemu-system-x86 busybox-static alsa-utils
    desktop-file-utils xdg-utils libglib2.0-bin shared-mime-info
    # installation and the Debian package (tools/package.sh) and their checks
    appstream file dpkg-dev lintian
    # the embedding server: session bus, X11 window tools, the test container's xcb
    dbus x11-utils xdotool libxcb1-dev
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done
if ((${#missing[@]})); then
    echo "Installing ${#missing[@]} Debian packages: ${missing[*]}"
    sudo=()
    if [ "$(id -u)" -ne 0 ]; then
        sudo=(sudo)
    fi
    "${sudo[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends \
        "${missing[@]}"
fi

if [ "$mode" = deps ]; then
    exit 0
fi

jobs=$(nproc 2>/dev/null || echo 2)

if [ "$mode" = test ]; then
    cmake --preset dev
    cmake --build --preset dev -j "$jobs"
    ctest --preset dev
    exit 0
fi

cmake --preset release
# The player and the screenshot tool only; the release preset also builds the tests.
cmake --build --preset release -j "$jobs" --target brisolde brisolde-screenshot
program=build/release/bin/brisolde
demo=demo/brisolde-demo.mid

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
    exec "$program" "$demo"
fi

cat <<MSG
No display found (DISPLAY and WAYLAND_DISPLAY are unset), so Brisolde starts
inside a virtual X display (xvfb-run) with the bundled demo piece loaded.
Where the machine has no sound device, the built-in synthesizer plays into a
silent sink. A screenshot of the window is saved as build/release/brisolde.png
a few seconds after the start. Press Ctrl+C to quit.
MSG
# Qt wants a private runtime folder; a bare root session has none.
if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
    XDG_RUNTIME_DIR=$(mktemp -d)
    export XDG_RUNTIME_DIR
fi
exec xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
    "$1" "$2" &
    pid=$!
    sleep 3
    "$3" build/release/brisolde.png || true
    wait $pid
' _ "$program" "$demo" build/release/bin/brisolde-screenshot
