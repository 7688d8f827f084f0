#!/bin/sh
# Installs the build into a temporary prefix, moves that prefix elsewhere,
# and checks what a user gets there: the layout, programs that start from any
# folder and find their private libraries, and a crash report with function
# names and source lines when the player is killed by a real SIGSEGV.
#
#   check_install.sh CMAKE BUILD WORK BINDIR PKGLIBDIR DATADIR MANDIR DEMO [SANITIZERS]
set -eu
cmake=$1 build=$2 work=$3 bindir=$4 pkglibdir=$5 datadir=$6 mandir=$7 demo=$8 sanitizer=${9:-}

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

rm -rf "$work"
mkdir -p "$work"
"$cmake" --install "$build" --prefix "$work/staged" >/dev/null
# Nothing may depend on where it was installed.
mv "$work/staged" "$work/moved"
prefix=$work/moved

for f in "$bindir/brisolde" "$bindir/brisolde-inspect" "$bindir/brisolde-render"; do
    [ -x "$prefix/$f" ] || fail "$f is not an installed program"
done
for f in "$pkglibdir/libTolvernVersion.so" "$pkglibdir/libbrisolde-debughelp.so" \
    "$datadir/applications/brisolde.desktop" \
    "$datadir/metainfo/org.tolvern.brisolde.metainfo.xml" \
    "$datadir/doc/brisolde/copyright" "$datadir/doc/brisolde/changelog.gz" \
    "$mandir/man1/brisolde.1.gz" "$mandir/man1/brisolde-inspect.1.gz" \
    "$mandir/man1/brisolde-render.1.gz"; do
    [ -f "$prefix/$f" ] || fail "$f is missing"
done
for size in 16 24 32 48 64 128 256; do
    [ -f "$prefix/$datadir/icons/hicolor/${size}x$size/apps/brisolde.png" ] ||
        fail "no $size pixel icon"
done
# The private libraries are found through the run path, never through a
# folder of the build.
runpath=$(readelf -d "$prefix/$bindir/brisolde" | sed -n 's/.*(RUNPATH).*\[\(.*\)\]/\1/p')
[ "$runpath" = "\$ORIGIN/$(realpath -m --relative-to="/$bindir" "/$pkglibdir")" ] ||
    fail "the player's run path is '$runpath'"

# The programs start from another folder, in an environment of their own.
cd /
home=$work/home
mkdir -p "$home/config" "$home/data" "$home/runtime" "$home/temp"
chmod 700 "$home/runtime"
export HOME="$home" XDG_CONFIG_HOME="$home/config" XDG_DATA_HOME="$home/data" \
    XDG_RUNTIME_DIR="$home/runtime" XDG_DATA_DIRS=/usr/share TEMP="$home/temp" \
    QT_QPA_PLATFORM=offscreen LC_ALL=C.UTF-8
unset LD_LIBRARY_PATH
"$prefix/$bindir/brisolde-inspect" --summary "$demo" | grep -q '^events [0-9]*$' ||
    fail "brisolde-inspect --summary"
status=0
"$prefix/$bindir/brisolde-render" >/dev/null 2>&1 || status=$?
[ $status -eq 2 ] || fail "brisolde-render without arguments ended with $status, not 2"
"$prefix/$bindir/brisolde" -Register || fail "brisolde -Register ended with $?"
grep -qxF "Exec=$prefix/$bindir/brisolde %f" "$XDG_DATA_HOME/applications/brisolde.desktop" ||
    fail "-Register wrote no desktop entry for the installed program"

# A real crash: the player is started and, once it is up (it has written its
# desktop entry) and idle (its main thread waits in poll or ppoll, x86-64
# system calls 7 and 271, so the signal meets no lock held), it gets a SIGSEGV
# from outside.
rm -f "$XDG_DATA_HOME/applications/brisolde.desktop"
"$prefix/$bindir/brisolde" &
pid=$!
idle() {
    [ -f "$XDG_DATA_HOME/applications/brisolde.desktop" ] || return 1
    read -r call rest <"/proc/$pid/syscall" 2>/dev/null || return 1
    [ "$call" = 7 ] || [ "$call" = 271 ]
}
tries=0
until idle; do
    kill -0 $pid 2>/dev/null || fail "the player ended before it was up"
    tries=$((tries + 1))
    [ $tries -lt 600 ] || fail "the player did not come up"
    sleep 0.1
done
kill -SEGV $pid
status=0
wait $pid || status=$?
# After its report the player hands the signal on to the handling it found:
# the system's (killed by SIGSEGV), or a sanitizer's, which ends it with 1.
[ $status -eq 139 ] || { [ -n "$sanitizer" ] && [ $status -eq 1 ]; } ||
    fail "the player ended with $status after SIGSEGV"
report=$TEMP/brisolde.err
[ -f "$report" ] || fail "no crash report in \$TEMP"
grep -q '^Exception code: C0000005 ACCESS_VIOLATION' "$report" || fail "the report names no SIGSEGV"
# A sanitizer's dlopen stands between the program and the library it opens by
# name, so its run path is not searched; the crash report tests cover the
# library in sanitizer builds.
if [ -z "$sanitizer" ]; then
    grep -q ' main+[0-9A-F]* .*main\.cpp line [0-9]' "$report" ||
        fail "the report's call stack has no names and lines: $(sed -n '/Call stack/,/^$/p' "$report")"
fi
echo "installed under $prefix: layout, start-up and crash report correct"
