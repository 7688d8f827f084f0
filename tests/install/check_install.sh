#!/bin/sh
# Installs the build into a temporary prefix, moves that prefix elsewhere,
# and checks what a user gets there: the layout, programs that start from any
# folder and find their private libraries, and a crash report with function
# names and source lines when the player is killed by a real SIGSEGV.
#
#   check_install.sh CMAKE BUILD WORK BINDIR PKGLIBDIR DATADIR MANDIR DEMO
set -eu
cmake=$1 build=$2 work=$3 bindir=$4 pkglibdir=$5 datadir=$6 mandir=$7 demo=$8

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

# A real crash: the player is started, and once it has written its desktop
# entry (it is then inside its start-up, its crash handler long in place) it
# gets a SIGSEGV from outside.
rm -f "$XDG_DATA_HOME/applications/brisolde.desktop"
"$prefix/$bindir/brisolde" &
pid=$!
tries=0
until [ -f "$XDG_DATA_HOME/applications/brisolde.desktop" ]; do
    kill -0 $pid 2>/dev/null || fail "the player ended before it was up"
    tries=$((tries + 1))
    [ $tries -lt 600 ] || fail "the player did not come up"
    sleep 0.1
done
kill -SEGV $pid
status=0
wait $pid || status=$?
[ $status -eq 139 ] || fail "the player ended with $status after SIGSEGV, not 139"
report=$TEMP/brisolde.err
[ -f "$report" ] || fail "no crash report in \$TEMP"
grep -q '^Exception code: C0000005 ACCESS_VIOLATION' "$report" || fail "the report names no SIGSEGV"
grep -q ' main+[0-9A-F]* .*main\.cpp line [0-9]' "$report" ||
    fail "the report's call stack has no names and lines: $(sed -n '/Call stack/,/^$/p' "$report")"
echo "installed under $prefix: layout, start-up and crash report correct"
