#!/usr/bin/env bash
# A clean line carries exactly the bytes it always carried: dorvex-diag connects, lists, fetches
# thumbnails and downloads every picture from a simulator with a frozen clock, and the
# simulator's full trace of the line (without its first line, which names the pty) must have
# the recorded SHA-256. A change of this hash is a change on the wire: look at the trace.
#
# usage: clean_trace.sh SIM DIAG SHA256 [simulator options...]
# Exit 125 (skipped) without a Wine environment.
set -uo pipefail
sim="$1" diag="$2" expected="$3"
shift 3
if [ -z "${WINEPREFIX:-}" ] || [ -z "${DORVEX_PORTS:-}" ]; then
    echo "clean_trace: no Wine environment (run through ./run test)"; exit 125
fi
work="$(mktemp -d "${TMPDIR:-/tmp}/dorvex-clean.XXXXXX")"
sim_pid=""
cleanup() {
    if [ -n "$sim_pid" ]; then kill "$sim_pid" 2>/dev/null; wait "$sim_pid" 2>/dev/null; fi
    rm -f "$DORVEX_PORTS/com1"
    rm -rf "$work"
}
trap cleanup EXIT
"$sim" --link "$DORVEX_PORTS/com1" --trace "$work/trace.txt" --trace-full-hex --frozen-clock "$@" \
    >"$work/sim.out" 2>&1 &
sim_pid=$!
for _ in $(seq 100); do grep -q '^pty: ' "$work/sim.out" 2>/dev/null && break; sleep 0.05; done
(cd "$work" && wine "$diag" --port 1 --rate 115200 connect getstat info 1 info 2 info 3 info 4 info 5 info 6 \
    thumb 1 t1 thumb 3 t3 jpeg 1 j1.jpg jpeg 3 j3.jpg fetch-all . close </dev/null >diag.out 2>&1)
status=$?
kill "$sim_pid" 2>/dev/null; wait "$sim_pid" 2>/dev/null; sim_pid=""
if [ "$status" -ne 0 ]; then
    echo "clean_trace: dorvex-diag failed ($status):"; cat "$work/diag.out"; exit 1
fi
actual="$(tail -n +2 "$work/trace.txt" | sha256sum | cut -d' ' -f1)"
if [ "$actual" != "$expected" ]; then
    echo "clean_trace: the line's trace changed: $actual, recorded $expected"
    echo "---- trace (first 40 lines) ----"; head -40 "$work/trace.txt" | cut -c1-200
    exit 1
fi
echo "clean_trace: $(wc -l <"$work/trace.txt") trace lines as recorded"
