#!/bin/bash
# The embedding server seen from containers: registration, activation by the
# bus, the object in place inside a container's windows, its own window,
# several containers, crashes on either side. Runs under a virtual X server
# and a private session bus with private XDG folders.
#   run.sh BRISOLDE CONTAINER OUTDIR DEMO.mid
# Exit status 77 (skipped) where Xvfb, the bus daemon or the X tools are missing.
set -u
if [ "${1:-}" != --inner ] && [ "${1:-}" != --offscreen ]; then
    for tool in xvfb-run dbus-run-session dbus-daemon gdbus xwininfo xprop xdotool; do
        if ! command -v "$tool" >/dev/null; then
            echo "skipped: $tool is not installed (tools/setup.sh installs it)"
            exit 77
        fi
    done
    out=$3
    # Only ever clear a folder this test made (it leaves scenario.log there).
    if [ -e "$out" ] && [ ! -e "$out/scenario.log" ] && [ -n "$(ls -A "$out" 2>/dev/null)" ]; then
        echo "refusing to clear $out: it is not a folder of this test" >&2
        exit 2
    fi
    rm -rf "$out"
    mkdir -p "$out"/{runtime,data,config,home,music}
    chmod 700 "$out/runtime"
    cp "$4" "$out/music/one.mid"
    cp "$4" "$out/music/two.mid"
    ini="$out/config/Tolvern Midi Applications/Brisolde.ini"
    mkdir -p "$(dirname "$ini")"
    printf '[Settings]\nDefault%%20Directory=%s/music/\nAutoplay=8\n' "$out" >"$ini"
    export HOME=$out/home XDG_RUNTIME_DIR=$out/runtime XDG_DATA_HOME=$out/data \
        XDG_CONFIG_HOME=$out/config XDG_DATA_DIRS=$out/data LC_ALL=C.UTF-8
    unset DBUS_SESSION_BUS_ADDRESS WAYLAND_DISPLAY QT_QPA_PLATFORM
    # In a sanitizer build: libxkbcommon-x11 reads X atom names with strndup
    # past their buffers, which stops every X11 client at its start; that
    # check of the system's library is left out, every other one stays.
    export ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}intercept_strndup=0
    timeout 280 xvfb-run -a -s "-screen 0 1024x768x24 -noreset" \
        dbus-run-session -- bash "$0" --inner "$1" "$2" "$out" >"$out/scenario.log" 2>"$out/processes.log"
    status=$?
    cat "$out/scenario.log"
    if grep -E "ERROR: AddressSanitizer|runtime error:" "$out/processes.log"; then
        echo "FAIL: a sanitizer reported an error (see $out/processes.log)"
        status=1
    fi
    exit $status
fi

mode=$1 brisolde=$2 container=$3 out=$4
ini="$XDG_CONFIG_HOME/Tolvern Midi Applications/Brisolde.ini"
fails=0
pass() { echo "PASS: $1"; }
fail() { echo "FAIL: $1"; fails=$((fails + 1)); }
check() { if eval "$2"; then pass "$1"; else fail "$1"; fi; }
# One call to container N: the reply without gdbus's tuple around it.
c() { gdbus call --session --dest "org.tolvern.TestContainer.c$1" --object-path /Container \
        --method "org.tolvern.TestContainer.$2" "${@:3}" 2>&1 |
        sed -e "s/^('//" -e "s/',)$//" -e 's/^("//' -e 's/",)$//' -e 's/^(//' -e 's/,)$//'; }
field() { echo "$1" | tr ' ' '\n' | grep "^$2=" | head -1 | cut -d= -f2-; }
alive() { [ -d "/proc/$1" ] && ! grep -q '^State:.*zombie' "/proc/$1/status" 2>/dev/null; }
gone_within() { # pid, milliseconds
    local i
    for i in $(seq $(($2 / 20))); do
        alive "$1" || { echo "  (pid $1 gone after ~$((i * 20)) ms)"; return 0; }
        sleep 0.02
    done
    return 1
}
start_container() { # id, extra arguments
    local id=$1
    shift
    "$container" --id "$id" "$@" 2>>"$out/container-$id.log" &
    eval "cpid$id=$!"
    for _ in $(seq 100); do
        c "$id" State 2>/dev/null | grep -q '^object=' && return 0
        sleep 0.05
    done
    fail "container $id did not start"
}
# Waits (at most $1 seconds) until the command string $2 holds.
within() {
    local i
    for i in $(seq $(($1 * 20))); do
        eval "$2" && return 0
        sleep 0.05
    done
    return 1
}
# Named window under X window $1 (whole subtree): its id.
named() { xwininfo -id "$1" -tree 2>/dev/null | grep -F "\"$2\":" | head -1 | awk '{print $1}'; }
children() { xwininfo -id "$1" -children 2>/dev/null | grep -E '^ +0x' | awk '{print $1}'; }
wm_pid() { xprop -id "$1" _NET_WM_PID 2>/dev/null | awk '{print $3}'; }
abs_xy() { xwininfo -id "$1" | awk '/Absolute upper-left X/{x=$4} /Absolute upper-left Y/{y=$4} END{print x, y}'; }
size_of() { xwininfo -id "$1" | awk '/Width:/{w=$2} /Height:/{h=$2} END{print w "x" h}'; }
map_state() { xwininfo -id "$1" | awk '/Map State:/{print $3}'; }
activatable() { gdbus call --session --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus \
    --method org.freedesktop.DBus.ListActivatableNames | grep -c "'org.tolvern.Brisolde.Document'"; }
service=$XDG_DATA_HOME/dbus-1/services/org.tolvern.Brisolde.Document.service

if [ "$mode" = --offscreen ]; then
    # Servers on a platform without foreign windows (as on Wayland), on a bus
    # of their own with a profile of their own.
    export XDG_CONFIG_HOME=$out/offscreen-config
    mkdir -p "$XDG_CONFIG_HOME"
    cp -r "$out/config/Tolvern Midi Applications" "$XDG_CONFIG_HOME/"
    ini="$XDG_CONFIG_HOME/Tolvern Midi Applications/Brisolde.ini"
    before=$(md5sum <"$ini")
    QT_QPA_PLATFORM=offscreen "$brisolde" -Register
    QT_QPA_PLATFORM=xcb start_container 9
    c 9 InsertObject >/dev/null
    spid=$(field "$(c 9 State)" serverPid)
    r=$(c 9 ActivateInPlace)
    s=$(c 9 State)
    check "in place refused with its own error; the container opens the object instead ($r)" \
        '[ "$r" = "fallback: open" ] && echo "$s" | grep -q "in-place_refused:_org.tolvern.Brisolde.Error.InPlaceNotSupported" && [ "$(field "$s" open)" = 1 ]'
    c 9 Quit >/dev/null
    check "the server ends with its container" 'gone_within "$spid" 1000'
    check "a server's run wrote nothing to the profile" '[ "$(md5sum <"$ini")" = "$before" ]'
    exit $fails
fi

echo "== registration: a session service file, read by the running bus"
check "nothing registered yet" '[ "$(activatable)" = 0 ]'
"$brisolde" -Register
check "-Register writes the service file with the quoted program and -Embedding" \
    'grep -qxF "Exec='"'"'$brisolde'"'"' -Embedding" "$service" && grep -qx "Name=org.tolvern.Brisolde.Document" "$service"'
check "... and the bus reloads: the name is activatable" '[ "$(activatable)" = 1 ]'
"$brisolde" -Unregister
check "-Unregister removes the file and the bus forgets the name" '[ ! -e "$service" ] && [ "$(activatable)" = 0 ]'
"$brisolde" -Register
before_ini=$(md5sum "$ini")

echo "== a name that another server holds: the second one ends with status 1 and says why"
"$brisolde" -Embedding 2>"$out/first.err" &
first=$!
for _ in $(seq 100); do
    gdbus call --session --dest org.freedesktop.DBus --object-path / --method org.freedesktop.DBus.NameHasOwner org.tolvern.Brisolde.Document | grep -q true && break
    sleep 0.05
done
"$brisolde" -Embedding 2>"$out/second.err"
status=$?
check "status 1 and the reason on standard error: $(cat "$out/second.err")" \
    '[ $status = 1 ] && grep -q "org.tolvern.Brisolde.Document is taken" "$out/second.err"'
check "the factory tells its type" \
    'gdbus call --session --dest org.tolvern.Brisolde.Document --object-path /org/tolvern/Brisolde/Factory --method org.freedesktop.DBus.Properties.GetAll org.tolvern.Brisolde.ClassFactory | grep -q "Qorvel Document.*Brisolde.Document.*EC90EAA3-9532-11D3-814A-444553540000\|EC90EAA3-9532-11D3-814A-444553540000.*Qorvel Document"'
kill "$first"; wait "$first" 2>/dev/null

echo "== inserting an object: the bus starts a server with -Embedding"
start_container 1
server=$(c 1 InsertObject)
s=$(c 1 State); echo "$s"
spid=$(field "$s" serverPid)
check "server $server started by the bus with -Embedding" \
    'alive "$spid" && tr "\0" " " </proc/$spid/cmdline | grep -q -- " -Embedding"'
check "an empty 30 mm square: 113x113 px at 96 dpi, its picture all transparent" \
    '[ "$(field "$s" site)" = 113x113 ] && [ "$(field "$s" picture)" = 113x113 ] && [ "$(field "$s" blank)" = 1 ]'
check "content extent 3000 x 3000" '[ "$(c 1 Extent 1)" = "3000 3000" ]'
check "the icon aspect gets the framework's answer: $(c 1 Extent 4)" \
    '[ "$(c 1 Extent 4)" = org.tolvern.Brisolde.Error.NoExtent ]'
second=$(gdbus call --session --dest "$server" --object-path /org/tolvern/Brisolde/Factory \
    --method org.tolvern.Brisolde.ClassFactory.CreateObject 2>&1)
check "a second request to a server whose object is taken: a clear error" \
    'echo "$second" | grep -q "org.tolvern.Brisolde.Error.ObjectTaken"'
check "no window of the server is shown" '! xwininfo -root -tree | grep -q "(\"brisolde\" \"Brisolde\")  [0-9]*x[0-9]*+[0-9]*+[0-9]*  +[0-9]" || [ -z "$(xdotool search --onlyvisible --pid "$spid" 2>/dev/null)" ]'

echo "== in place"
c 1 ResizeObject 420 260 >/dev/null
s=$(c 1 State)
bad=$(c 1 ActivateWithWindows "$(($(field "$s" siteWid)))" 1)
check "a frame strip that is no window: refused with an error, nothing shown ($bad)" \
    'echo "$bad" | grep -q org.tolvern.Brisolde.Error.InPlaceFailed && [ -z "$(children "$(field "$s" siteWid)")" ] && [ "$(field "$(c 1 State)" inplace)" = 0 ]'
a=$(c 1 ActivateInPlace); echo "ActivateInPlace: $a"
s=$(c 1 State)
site=$(field "$s" siteWid) strip=$(field "$s" stripWid)
xwininfo -root -tree >"$out/tree-inplace.txt"
c 1 Screenshot "$out/inplace.png" >/dev/null
buttons=0
for b in Cut Copy Paste About Play Pause Stop "Play Next File"; do
    [ -n "$(named "$strip" "$b")" ] && buttons=$((buttons + 1))
done
check "the eight in-place toolbar buttons on the container's frame strip" '[ $buttons = 8 ]'
check "the device list (1000) beside them" '[ -n "$(named "$strip" 1000)" ]'
check "the bars are the server's windows" '[ "$(wm_pid "$(children "$strip" | tail -1)")" = "$spid" ]'
frame=$(children "$site" | tail -1)
check "both panes inside the object's site, in the server's in-place frame" \
    '[ "$(wm_pid "$frame")" = "$spid" ] && [ -n "$(named "$site" CDirectoryView)" ] && [ -n "$(named "$site" CFilesView)" ]'
check "the frame strip took the bars' height ($(field "$s" strip) px)" '[ "$(field "$s" strip)" -gt 20 ]'
check "the container's menu bar holds the object's menus around its own: $(c 1 MenuBarText)" \
    '[ "$(c 1 MenuBarText)" = "File[Exit] Edit[Undo,-,Cut,Copy,Paste] View[Toolbar] Object[Insert Qorvel Document,Activate,Open] Help[About Brisolde...]" ]'
layout=$(gdbus call --session --dest "$server" --object-path /org/tolvern/Brisolde/Object/Menu \
    --method com.canonical.dbusmenu.GetLayout -- 0 -1 '@as []')
echo "$layout" > "$out/menu-layout.txt"
check "the menu in the dbusmenu layout, as any client reads it" \
    'echo "$layout" | grep -q "'"'"'label'"'"': <'"'"'_Edit'"'"'>" && echo "$layout" | grep -q "Cu_t" && echo "$layout" | grep -q "'"'"'type'"'"': <'"'"'separator'"'"'>"'

read -r px py < <(abs_xy "$(named "$strip" Play)")
xdotool mousemove $((px + 8)) $((py + 8))
sleep 0.4
check "a fly-by prompt of the bars reaches the container's status bar: $(field "$(c 1 State)" status)" \
    '[ "$(field "$(c 1 State)" status)" = Play_Midi ]'

c 1 ResizeObject 380 240 >/dev/null
sleep 0.4
check "the container resizes the object with a call: $(size_of "$frame")" '[ "$(size_of "$frame")" = 380x240 ]'

echo "== a double-click in the in-place list plays the file"
files=$(named "$site" CFilesView)
read -r fx fy < <(abs_xy "$files")
xdotool mousemove $((fx + 40)) $((fy + 28)) click --repeat 2 --delay 80 1
sleep 1
check "the file is the document now: the in-place frame is titled $(xwininfo -id "$frame" | sed -n 's/.*"\(.*\)"$/\1/p' | head -1)" \
    'xwininfo -id "$frame" | grep -q "\"one.mid - Brisolde\""'
check "... and its folder recorded" 'grep -q "^Default%20Directory%20Name=$out/music$" "$ini"'
c 1 Screenshot "$out/inplace-playing.png" >/dev/null
check "the click asked the container for the keyboard (XEmbed), which gave it" \
    '[ "$(field "$(c 1 State)" xembed)" -ge 1 ]'

echo "== keys reach the object with the pointer outside it; Escape ends in-place activation"
read -r mx my < <(abs_xy "$(field "$s" mainWid)")
xdotool mousemove $((mx + 560)) $((my + 380))
sleep 0.2
xdotool key Escape
sleep 0.8
s=$(c 1 State); echo "$s"
check "the server's Escape (32769): the container is told and its own Escape never ran" \
    'echo "$s" | grep -q server:Deactivated && [ "$(field "$s" escapes)" = 0 ] && [ "$(field "$s" inplace)" = 0 ]'
check "no server window left in the site or the strip; the strip is empty" \
    '[ -z "$(children "$site")" ] && [ -z "$(children "$strip")" ] && [ "$(field "$s" strip)" = 0 ]'
check "the container's own menus are back" '[ "$(c 1 MenuBarText)" = "File[Exit] Object[Insert Qorvel Document,Activate,Open]" ]'
check "the server goes on, without a window" 'alive "$spid"'

echo "== a command chosen in the container's menu runs in the server"
c 1 ActivateInPlace >/dev/null
sleep 0.4
s=$(c 1 State)
cut=$(named "$strip" Cut)
read -r vx vy <<<"$(c 1 MenuPosition View)"
xdotool mousemove "$vx" "$vy" click 1
sleep 0.5
read -r tx ty <<<"$(c 1 MenuPosition View/Toolbar)"
xdotool mousemove "$tx" "$ty" click 1
sleep 0.6
check "View > Toolbar in the container's menu bar hides the object's toolbar" \
    '[ -n "$cut" ] && [ "$(map_state "$cut")" != IsViewable ]'
c 1 Deactivate >/dev/null

echo "== opened in the program's own window: File > Update, Save Copy As, Exit"
c 1 OpenObject >/dev/null
sleep 0.6
own=$(xdotool search --onlyvisible --name "^Brisolde in Container Document 1$" | head -1)
check "the server's own window, titled for the container's document" \
    '[ -n "$own" ] && [ "$(wm_pid "$own")" = "$spid" ] && echo "$(c 1 State)" | grep -q server:Shown'
xdotool windowfocus --sync "$own" 2>/dev/null
xdotool key ctrl+s
sleep 0.5
check "File > Update (Ctrl+S) sends the (empty) object to the container" \
    'echo "$(c 1 State)" | grep -q "server:Updated(0_bytes)"'
# A menu or a dialog takes its time on a busy machine: each step waits for
# what it needs, and a menu that did not open in time is asked for again.
dialog=
for _ in 1 2 3; do
    xdotool windowfocus --sync "$own" 2>/dev/null
    xdotool key alt+f
    sleep 0.3
    xdotool key a
    within 5 'dialog=$(xdotool search --onlyvisible --name "^Save Copy As$" | head -1); [ -n "$dialog" ]' && break
    xdotool key Escape Escape
done
xdotool windowfocus --sync "$dialog" 2>/dev/null
sleep 0.3
xdotool type --delay 20 "$out/copy.brisolde"
xdotool key Return
check "Save Copy As writes the object to the file the user picked" 'within 10 "[ -f \"$out/copy.brisolde\" ]"'
within 10 '[ -z "$(xdotool search --onlyvisible --name "^Save Copy As$")" ]'
for _ in 1 2 3; do
    xdotool windowfocus --sync "$own" 2>/dev/null
    xdotool key alt+f
    sleep 0.3
    xdotool key x
    within 5 'c 1 State | grep -q server:Hidden' && break
    xdotool key Escape
done
s=$(c 1 State)
check "File > Exit hides the window and returns to the container" \
    'echo "$s" | grep -q server:Hidden && [ "$(field "$s" open)" = 0 ] && [ "$(map_state "$own")" != IsViewable ] && alive "$spid"'

echo "== the container's document keeps the object"
c 1 SaveDocument "$out/doc.tcd" >/dev/null
check "saved with the object's type and extent" 'grep -q "^object Brisolde.Document 40 40 3000 3000 \[\]$" "$out/doc.tcd"'
start_container 2 --load "$out/doc.tcd"
s=$(c 2 State)
check "reloaded: an empty square again, no server until activation" \
    '[ "$(field "$s" object)" = 1 ] && [ "$(field "$s" running)" = 0 ] && [ "$(field "$s" site)" = 113x113 ]'
a=$(c 2 ActivateInPlace); echo "ActivateInPlace of the reloaded object (server started): $a"
check "activating the reloaded object starts its server" '[ "$(field "$(c 2 State)" inplace)" = 1 ]'

echo "== three containers at once: three server processes"
start_container 3
start_container 4
start_container 5
calls=()
for i in 3 4 5; do
    c $i InsertObject >"$out/insert-$i" &
    calls+=($!)
done
wait "${calls[@]}"
p3=$(field "$(c 3 State)" serverPid) p4=$(field "$(c 4 State)" serverPid) p5=$(field "$(c 5 State)" serverPid)
check "servers $p3 $p4 $p5: one each" \
    '[ "$p3" != 0 ] && [ "$p4" != 0 ] && [ "$p5" != 0 ] && [ "$p3" != "$p4" ] && [ "$p4" != "$p5" ] && [ "$p3" != "$p5" ] && alive $p3 && alive $p4 && alive $p5'
echo "  (requests asked again after ObjectTaken: $(cat "$out"/container-{3,4,5}.log | grep -c "asking again"))"

echo "== the server dies while in place: the container lives on"
c 3 ActivateInPlace >/dev/null
site3=$(field "$(c 3 State)" siteWid)
kill -9 "$p3"
sleep 0.8
s=$(c 3 State)
check "container 3 alive, its object inactive, its strip empty" \
    'alive "$cpid3" && [ "$(field "$s" running)" = 0 ] && [ "$(field "$s" inplace)" = 0 ] && [ "$(field "$s" strip)" = 0 ] && [ -z "$(children "$site3")" ]'
check "activating again brings a new server" '[[ "$(c 3 ActivateInPlace)" == ok* ]]'

echo "== the container dies or quits: its server ends within a second"
c 4 ActivateInPlace >/dev/null
kill -9 "$cpid4"
check "container 4 killed while in place: server $p4 ended" 'gone_within "$p4" 1000'
c 5 Quit >/dev/null
check "container 5 quits: server $p5 ended" 'gone_within "$p5" 1000'
for i in 1 2 3; do c $i Quit >/dev/null; done
check "server $spid ended with container 1" 'gone_within "$spid" 1000'
sleep 0.5
check "no server is left" '[ -z "$(pgrep -f -- "$brisolde -Embedding")" ]'

echo "== no foreign windows (offscreen, as on Wayland)"
QT_QPA_PLATFORM=offscreen dbus-run-session -- bash "$0" --offscreen "$brisolde" "$container" "$out" \
    2>>"$out/processes.log"
fails=$((fails + $?))
echo "== result: $fails failure(s)"
[ $fails = 0 ]
