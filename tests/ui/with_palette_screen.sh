#!/usr/bin/env bash
# Runs a command on a private 256-colour (8-bit, palette-based) X screen.
# usage: with_palette_screen.sh COMMAND [args...]   Exit status: the command's.
set -uo pipefail
command -v Xvfb >/dev/null || { echo "with_palette_screen: no Xvfb"; exit 125; }
fdfile="$(mktemp)"
Xvfb -displayfd 3 -screen 0 1024x768x8 -nolisten tcp 3>"$fdfile" >/dev/null 2>&1 &
xvfb=$!
for _ in $(seq 100); do [ -s "$fdfile" ] && break; sleep 0.1; done
if [ ! -s "$fdfile" ]; then
    echo "with_palette_screen: Xvfb did not start"; kill "$xvfb" 2>/dev/null; rm -f "$fdfile"; exit 125
fi
export DISPLAY=":$(head -1 "$fdfile")"
"$@"
status=$?
kill "$xvfb" 2>/dev/null
wait "$xvfb" 2>/dev/null
rm -f "$fdfile"
exit "$status"
