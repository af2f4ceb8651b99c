#!/usr/bin/env bash
# Runs a command on an X server of its own (a private Xvfb on the first free display), so that a
# test that needs the keyboard focus or the clipboard never meets another test's windows.
set -uo pipefail
fifo=$(mktemp -u)
mkfifo "$fifo"
# -noreset: an X server starts over whenever its last client leaves, and a client that connects
# meanwhile is refused (a test that ends one program and starts the next would see the second fail
# to open the display now and then).
Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp -noreset 3>"$fifo" >/dev/null 2>&1 &
server=$!
trap 'kill "$server" 2>/dev/null; wait "$server" 2>/dev/null; rm -f "$fifo"' EXIT
if ! read -r display < "$fifo"; then
    echo "with-own-display: the X server did not start" >&2
    exit 1
fi
DISPLAY=":$display" "$@"
