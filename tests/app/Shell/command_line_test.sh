#!/usr/bin/env bash
# The command line as a user types it: help and version answer without a window, a wrong option
# says so with status 2, and files that cannot be opened are named on stderr and in the window
# while the photos beside them open; the status at quit is then 1.
# Usage: command_line_test.sh <program>
set -uo pipefail
program=$1
work=$(mktemp -d)
pid=
cleanup() {
    [ -n "$pid" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
# Waits up to a minute for a visible window of process $1 titled as the pattern $2 says; fails the
# test when the process ends meanwhile. Status 1 when no such window came.
window_titled() {
    for _ in $(seq 1 600); do
        xdotool search --all --onlyvisible --pid "$1" --name "$2" >/dev/null 2>&1 && return 0
        kill -0 "$1" 2>/dev/null || fail "the program ended: $(cat "$work/err.log")"
        sleep 0.1
    done
    return 1
}
mkdir -p "$work/home" "$work/tmp" "$work/run" "$work/photos" "$work/empty"
chmod 700 "$work/run"
export HOME=$work/home TMPDIR=$work/tmp XDG_RUNTIME_DIR=$work/run XDG_CONFIG_HOME=$work/home/.config \
       XDG_DATA_HOME=$work/home/.local/share XDG_CACHE_HOME=$work/home/.cache

out=$(DISPLAY= "$program" --help 2>&1); status=$?
[ $status -eq 0 ] || fail "--help exited $status"
grep -q '^Usage: kestrane-viewer \[OPTION\]\.\.\. \[FILE|FOLDER\]\.\.\.' <<<"$out" || fail "--help: $out"
grep -q 'Exit status' <<<"$out" || fail "--help does not give the exit status"
out=$(DISPLAY= "$program" --version 2>&1); status=$?
[ $status -eq 0 ] && [ "$out" = "kestrane-viewer (Kestrane Photo Viewer) $(echo "$out" | awk '{print $NF}')" ] ||
    fail "--version ($status): $out"
# An answer that cannot be written is said and is no success.
if [ -w /dev/full ]; then
    out=$(DISPLAY= "$program" --version 2>&1 >/dev/full); status=$?
    [ $status -eq 1 ] && grep -q "^kestrane-viewer: write error: " <<<"$out" || fail "--version to a full disk ($status): $out"
fi
out=$(DISPLAY= "$program" --frobnicate 2>&1 >/dev/null); status=$?
[ $status -eq 2 ] || fail "a wrong option exited $status"
# The toolkit's own options are not the program's to refuse.
DISPLAY= "$program" -style Fusion --version >/dev/null 2>&1 || fail "a toolkit option was refused"
grep -q "unrecognized option '--frobnicate'" <<<"$out" || fail "wrong option message: $out"
grep -q "Try 'kestrane-viewer --help'" <<<"$out" || fail "wrong option gives no hint: $out"
# A short option is named alone; options written together are read one by one; a file whose name
# starts with '-' is told how it opens.
touch "$work/-x.jpg"
out=$(cd "$work" && DISPLAY= "$program" -x.jpg 2>&1 >/dev/null); status=$?
[ $status -eq 2 ] && grep -qx "kestrane-viewer: invalid option -- 'x'" <<<"$out" && grep -q -- "'--' or as './-x.jpg'" <<<"$out" ||
    fail "a file named like an option ($status): $out"
rm "$work/-x.jpg"
DISPLAY= "$program" -hv | grep -q '^Usage: ' || fail "-hv gave no help"
out=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$program" "$work" 2>&1); status=$?
[ $status -eq 1 ] || fail "without a display exited $status"
grep -q "no display" <<<"$out" || fail "without a display: $out"
# A display that does not answer (its X server gone, or one that refuses this user) is told in a
# sentence with status 1, whether named by DISPLAY or by -display, instead of ending in an abort.
silent=99
while [ -e "/tmp/.X11-unix/X$silent" ]; do silent=$((silent + 1)); done
for how in env option; do
    if [ $how = env ]; then
        out=$(env -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM DISPLAY=:$silent "$program" "$work" 2>&1); status=$?
    else
        out=$(env -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$program" -display :$silent "$work" 2>&1); status=$?
    fi
    [ $status -eq 1 ] || fail "with a display that does not answer ($how) exited $status: $out"
    grep -q "^kestrane-viewer: cannot open a window on the display “:$silent”" <<<"$out" ||
        fail "with a display that does not answer ($how): $out"
done

if [ -z "${DISPLAY:-}" ] || ! command -v xdotool >/dev/null || ! command -v xev >/dev/null || ! command -v xprop >/dev/null; then
    echo "SKIPPED: no X display, or no xdotool, xev or xprop for the window half" >&2
    exit 77
fi
convert -size 64x48 xc:red "$work/photos/a.jpg"
echo "not a photo" >"$work/photos/notes.txt"
echo "not a photo either" >"$work/photos/notes.jpg"
: >"$work/photos/nothing.jpg"
"$program" "$work/nope.jpg" "$work/empty" "$work/photos/notes.txt" "https://example.org/remote.jpg" \
    "$work/photos/notes.jpg" "$work/photos/nothing.jpg" -- "$work/photos/a.jpg" \
    >"$work/out.log" 2>"$work/err.log" &
pid=$!
alert=
for _ in $(seq 1 600); do
    [ "$(xdotool search --onlyvisible --pid "$pid" 2>/dev/null | wc -l)" -ge 2 ] && alert=yes
    [ -n "$alert" ] && break
    kill -0 "$pid" 2>/dev/null || fail "the program ended: $(cat "$work/err.log")"
    sleep 0.1
done
[ -n "$alert" ] || fail "no alert window beside the main window"
err=$(cat "$work/err.log")
grep -q "kestrane-viewer: cannot open “$work/nope.jpg”: no such file or folder" <<<"$err" || fail "stderr: $err"
grep -q "there are no photos in the folder “$work/empty”" <<<"$err" || fail "stderr: $err"
grep -q "cannot open “$work/photos/notes.txt”: it is not a type of photo" <<<"$err" || fail "stderr: $err"
grep -q "cannot open “https://example.org/remote.jpg”: only files and folders on this computer" <<<"$err" || fail "stderr: $err"
grep -q "kestrane-viewer: cannot open “$work/photos/notes.jpg”: what it holds is not a photo" <<<"$err" || fail "stderr: $err"
grep -q "kestrane-viewer: cannot open “$work/photos/nothing.jpg”: the file is empty" <<<"$err" || fail "stderr: $err"
! grep -q "a.jpg" <<<"$err" || fail "the photo was reported: $err"
kill -TERM "$pid"
wait "$pid"; status=$?
pid=
[ $status -eq 1 ] || fail "quit after unopened arguments exited $status"

# A file's address, as a browser's address bar or a file manager copies it, opens the file it
# names: escapes decoded, a name that is not UTF-8 included. Nothing is left unopened.
mkdir -p "$work/addr"
latin1=$(printf 'caf\xe9.jpg')
convert -size 64x48 xc:blue "$work/addr/b c.jpg"
convert -size 64x48 xc:green "$work/addr/$latin1"
"$program" "file://$work/addr/b%20c.jpg" "file://localhost$work/addr/caf%E9.jpg" >"$work/out.log" 2>"$work/err.log" &
pid=$!
window_titled "$pid" 'b c\.jpg \(1/2\)' || fail "the file's address did not open it: $(cat "$work/err.log")"
! grep -q "cannot open" "$work/err.log" || fail "an address was not opened: $(cat "$work/err.log")"
kill -TERM "$pid"
wait "$pid"; status=$?
pid=
[ $status -eq 0 ] || fail "quit after opening the addresses exited $status"

# A second start in the photo's own folder, naming it as typed there (not UTF-8), hands it to the
# viewer already running, which shows that very photo.
"$program" "$work/addr/b c.jpg" >"$work/out.log" 2>"$work/err.log" &
pid=$!
window_titled "$pid" 'b c\.jpg' || fail "the first start shows no window"
# Started from a menu or a file manager, it hands over the desktop's token for its start: the
# running viewer comes forward with the time of the user's click as its user time, and the
# desktop's busy feedback for the start ends.
xev -root -event property >"$work/root.log" 2>&1 &
listener=$!
for _ in $(seq 1 50); do grep -q . "$work/root.log" && break; sleep 0.1; done
(cd "$work/addr" && DESKTOP_STARTUP_ID=kpv-test_TIME7654321 "$program" "$latin1" >"$work/out2.log" 2>"$work/err2.log"); status=$?
[ $status -eq 0 ] || fail "the second start exited $status: $(cat "$work/err2.log")"
for _ in $(seq 1 50); do grep -q _NET_STARTUP_INFO_BEGIN "$work/root.log" && break; sleep 0.1; done
kill "$listener"; wait "$listener" 2>/dev/null
grep -q _NET_STARTUP_INFO_BEGIN "$work/root.log" || fail "the hand-over left the desktop waiting for its window"
# The user time lives on the window that _NET_WM_USER_TIME_WINDOW names, where there is one.
user_time_of() {
    local w=$1 named
    named=$(xprop -id "$w" _NET_WM_USER_TIME_WINDOW 2>/dev/null | grep -o '0x[0-9a-f]*')
    xprop -id "${named:-$w}" _NET_WM_USER_TIME 2>/dev/null | grep -o '[0-9]*$'
}
came_forward=
for _ in $(seq 1 50); do
    for w in $(xdotool search --onlyvisible --pid "$pid" 2>/dev/null); do
        [ "$(user_time_of "$w")" = 7654321 ] && came_forward=yes
    done
    [ -n "$came_forward" ] && break
    sleep 0.1
done
[ -n "$came_forward" ] || fail "the running viewer did not come forward with the start's token"
window_titled "$pid" '^caf.*\.jpg \(' || fail "the handed-over photo is not shown"
kill -TERM "$pid"
wait "$pid"; status=$?
pid=
[ $status -eq 0 ] || fail "quit after the hand-over exited $status"

# Photos opened all at once, one start each (a file manager that starts the program once per
# photo), end in one viewer: the starts that found none running hand theirs to the one that came up.
convert -size 64x48 xc:yellow "$work/addr/d.jpg"
starts=()
for photo in "b c.jpg" "$latin1" d.jpg "b c.jpg"; do
    "$program" "$work/addr/$photo" >/dev/null 2>>"$work/err.log" &
    starts+=($!)
done
viewers=
for _ in $(seq 1 600); do
    viewers=$(for p in "${starts[@]}"; do kill -0 "$p" 2>/dev/null && echo "$p"; done)
    [ "$(grep -c . <<<"$viewers")" -le 1 ] && [ -n "$viewers" ] &&
        xdotool search --onlyvisible --pid "$viewers" >/dev/null 2>&1 && break
    sleep 0.1
done
sleep 1
viewers=$(for p in "${starts[@]}"; do kill -0 "$p" 2>/dev/null && echo "$p"; done)
for p in $viewers; do kill -TERM "$p"; wait "$p" 2>/dev/null; done
[ "$(grep -c . <<<"$viewers")" -eq 1 ] || fail "photos opened at once started $(grep -c . <<<"$viewers") viewers"
for p in "${starts[@]}"; do
    grep -qx "$p" <<<"$viewers" && continue
    wait "$p"; status=$?
    [ $status -eq 0 ] || fail "a start made at the same time exited $status: $(cat "$work/err.log")"
done

# A start while the running viewer is on its way out (told to end at log-out, its turned photo
# keeping it a moment) is not handed to it: it shows its photo itself instead of being lost.
mkdir -p "$work/quit"
convert -size 64x48 xc:red "$work/quit/turned.jpg"
convert -size 48x64 xc:blue "$work/quit/later.jpg"
"$program" "$work/quit/turned.jpg" >"$work/out.log" 2>"$work/err.log" &
pid=$!
window=
for _ in $(seq 1 600); do
    window=$(xdotool search --all --onlyvisible --pid "$pid" --name 'turned\.jpg' 2>/dev/null | head -1)
    [ -n "$window" ] && break
    sleep 0.1
done
[ -n "$window" ] || fail "the viewer shows no window for the photo to turn"
xdotool windowfocus "$window" >/dev/null 2>&1
xdotool key ctrl+r
sleep 1
convert -size 64x48 xc:green "$work/quit/turned.jpg" # changed meanwhile: the turn cannot be written
sleep 1
kill -TERM "$pid"
sleep 0.3
"$program" "$work/quit/later.jpg" >"$work/out3.log" 2>"$work/err3.log" &
later=$!
shown=
for _ in $(seq 1 600); do
    xdotool search --onlyvisible --name 'later\.jpg' >/dev/null 2>&1 && shown=yes && break
    kill -0 "$later" 2>/dev/null || kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
done
wait "$pid" 2>/dev/null
pid=$later
[ -n "$shown" ] || fail "the photo of a start during the quit was never shown"
kill -TERM "$pid"
wait "$pid"
pid=
echo "command line ok"
