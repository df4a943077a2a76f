#!/usr/bin/env bash
# Camera link throughput under Wine, against the simulator on a pty (run by ./run bench).
#
# 1. Unpaced: payload bytes/s of GetJpeg for a picture of about 150 KB (median of 3), as a
#    multiple of the 11520 bytes/s a 115200 bit/s line carries (target >= 5x). For reference, in
#    the same run, the same download with one byte per ReadFile call (the per-call cost of Wine's
#    serial reads is what the buffered receiver avoids).
# 2. Paced at 115200 bit/s (the simulator sends at the line's real byte rate): wire efficiency =
#    payload / (elapsed x 11520) (target >= 95 %), with the overhead that stuffing and framing
#    and handshakes put on the camera's side of the line.
set -euo pipefail

# DORVEX_BENCH_ARCH=win64 measures the 64-bit build's dorvex-diag.exe in the 64-bit prefix.
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
arch="${DORVEX_BENCH_ARCH:-win32}"
sim="$root/build/host/bin/dorvex-sim"
diag="$root/build/win/bin/dorvex-diag.exe"
[ "$arch" = win64 ] && diag="$root/build/win64/bin/dorvex-diag.exe"
for f in "$sim" "$diag"; do
    [ -e "$f" ] || { echo "link_throughput: $f is not built"; exit 1; }
done

# shellcheck source=../../tools/wine/wine-env.sh
source "$root/tools/wine/wine-env.sh"
wine_env_start reuse "$arch" >/dev/null 2>&1
work="$(mktemp -d "${TMPDIR:-/tmp}/dorvex-bench.XXXXXX")"
sim_pid=""
cleanup() {
    if [ -n "$sim_pid" ]; then kill "$sim_pid" 2>/dev/null; wait "$sim_pid" 2>/dev/null; fi
    rm -f "$DORVEX_PORTS/com1"
    rm -rf "$work"
    wine_env_stop
}
trap cleanup EXIT

# A camera-like picture of about 150 KB (a fixed fractal, so every run moves the same bytes).
mkdir -p "$work/card"
convert -size 1152x872 -seed 7 plasma:fractal -quality 85 "$work/card/01.jpg"
payload=$(stat -c %s "$work/card/01.jpg")
winpic="Z:${work//\//\\}\\out.jpg"

# Runs dorvex-diag against a fresh simulator; simulator options first, then "--", then diag args.
run() {
    local sim_args=()
    while [ "$1" != "--" ]; do sim_args+=("$1"); shift; done
    shift
    "$sim" --card "$work/card" --link "$DORVEX_PORTS/com1" "${sim_args[@]}" >"$work/sim.out" 2>&1 &
    sim_pid=$!
    for _ in $(seq 100); do grep -q '^pty: ' "$work/sim.out" && break; sleep 0.05; done
    wine "$diag" --port 1 --rate 115200 "$@" </dev/null >"$work/diag.out" 2>&1 || true
    kill "$sim_pid" 2>/dev/null; wait "$sim_pid" 2>/dev/null; sim_pid=""
    if ! grep -q '^OK   jpeg' "$work/diag.out"; then
        echo "link_throughput: download failed:"; cat "$work/diag.out"; exit 1
    fi
    cmp -s "$work/card/01.jpg" "$work/out.jpg" || { echo "link_throughput: downloaded bytes differ"; exit 1; }
    # "OK   jpeg 1: N bytes in T s (R bytes/s, X reads, Y writes)"
    sed -n 's/^OK   jpeg 1: \([0-9]*\) bytes in \([0-9.]*\) s (\([0-9]*\) bytes\/s, \([0-9]*\) reads, \([0-9]*\) writes).*/\1 \2 \3 \4 \5/p' \
        "$work/diag.out"
}

line=11520
echo "picture: $payload bytes"

run -- connect jpeg 1 "$winpic" jpeg 1 "$winpic" jpeg 1 "$winpic" >"$work/unpaced"
read -r _ _ rate reads writes < <(sort -k3 -n "$work/unpaced" | sed -n 2p)
read -r _ _ ref_rate ref_reads _ < <(run -- --read-size 1 connect jpeg 1 "$winpic")
awk -v r="$rate" -v rd="$reads" -v wr="$writes" -v rr="$ref_rate" -v rrd="$ref_reads" -v n="$payload" -v l=$line 'BEGIN {
    printf "unpaced GetJpeg: %d bytes/s = %.1f x %d bytes/s (target >= 5 x); %d reads, %d writes per download (%.0f bytes per read)\n", r, r / l, l, rd, wr, n / rd
    printf "  reference, one byte per ReadFile: %d bytes/s = %.2f x, %d reads (%.0f us per read)\n", rr, rr / l, rrd, 1e6 * (n / rr) / rrd
}'

read -r _ seconds _ _ _ < <(run --pace -- connect jpeg 1 "$winpic")
# The camera's side of the line: stuffed payload, and per 4096-byte block ENQ, STX, two length
# bytes, terminator, checksum and EOT; then the 9-byte status message in one more block.
stuffed=$(od -An -v -tu1 "$work/card/01.jpg" | tr -s ' ' '\n' | grep -cxE '2|17|19|27' || true)
awk -v s="$seconds" -v n="$payload" -v st="$stuffed" -v l=$line 'BEGIN {
    blocks = int((n + 4095) / 4096)
    framing = (blocks + 1) * 7 + 9
    wire = n + st + framing
    printf "paced at 115200 bit/s: %.2f s, wire efficiency %.1f %% (target >= 95 %%)\n", s, 100 * n / (s * l)
    printf "  camera-side overhead: stuffing %d bytes (%.2f %%), framing and handshakes %d bytes (%.2f %%); best possible %.1f %%\n", st, 100 * st / n, framing, 100 * framing / n, 100 * n / wire
}'
