#!/usr/bin/env bash
# Runs one scenario of a Windows UI test program against the camera simulator.
#
#   run_with_sim.sh SIM EXE GTEST_FILTER [--lang en|ja] [--quality-card | --long-thumbnail-card]
#                   [simulator options...]
#
# Starts SIM on a pty linked as COM1 ($DORVEX_PORTS/com1), dumps the same card for the test to
# compare downloads with, runs EXE under Wine with the filter, stops the simulator by its pid.
# Screenshots land in build/screenshots (PNG) when the test takes any.
set -uo pipefail

sim="$1"; exe="$2"; filter="$3"; shift 3
lang=en
quality_card=0
long_thumbnail_card=0
while [ $# -gt 0 ]; do
    case "$1" in
        --lang) lang="$2"; shift 2 ;;
        --quality-card) quality_card=1; shift ;;
        --long-thumbnail-card) long_thumbnail_card=1; shift ;;
        *) break ;;
    esac
done
: "${DORVEX_PORTS:?run inside the Wine environment (./run test)}"
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
work="$(mktemp -d /tmp/dorvex-acquire-XXXXXX)"
sim_pid=""
cleanup() {
    if [ -n "$sim_pid" ]; then
        kill "$sim_pid" 2>/dev/null
        wait "$sim_pid" 2>/dev/null
    fi
    rm -f "$DORVEX_PORTS/com1"
    rm -rf "$work"
}
trap cleanup EXIT

# Five pictures for the quality rule: model, width and quality code (CompressedBitsPerPixel).
make_quality_card() {
    local dir="$1" n=0
    mkdir -p "$dir"
    while read -r model width height code; do
        n=$((n + 1))
        local file; file="$(printf '%s/%02d.jpg' "$dir" "$n")"
        convert -size "${width}x${height}" xc:gray60 -quality 60 "$file"
        exiftool -q -overwrite_original -Make=Zelmar "-Model=$model" "-CompressedBitsPerPixel=$code" \
            "-DateTimeOriginal=2001:02:0$n 10:00:00" -ExposureTime=0.01 -FNumber=4 "$file"
    done <<'CARD'
Dorvex 1024 768 1
Dorvex 1152 864 1
Pava 640 480 1
Pava 640 480 6
Pava 640 480 4
CARD
}

# Three small pictures with their thumbnails (side files); the second one's is 450 KB of text
# behind a JPEG start: about 40 s on the line at 115200 bit/s, longer than a stop's grace.
make_long_thumbnail_card() {
    local dir="$1" n
    mkdir -p "$dir"
    for n in 1 2 3; do convert -size 64x48 xc:gray60 -quality 80 "$dir/0$n.jpg"; done
    cp "$dir/01.jpg" "$dir/01.thm"
    cp "$dir/03.jpg" "$dir/03.thm"
    { printf '\xff\xd8'; yes noise | head -c 450000; } >"$dir/02.thm"
}

sim_args=("$@")
if [ "$quality_card" = 1 ]; then
    make_quality_card "$work/source"
    sim_args+=(--card "$work/source")
fi
if [ "$long_thumbnail_card" = 1 ]; then
    make_long_thumbnail_card "$work/source"
    sim_args+=(--card "$work/source")
fi
"$sim" "${sim_args[@]}" --dump-card "$work/card" >/dev/null || { echo "cannot dump the card"; exit 1; }

rm -f "$DORVEX_PORTS/com1"
"$sim" "${sim_args[@]}" --link "$DORVEX_PORTS/com1" --trace "$work/trace.txt" >"$work/sim.out" 2>&1 &
sim_pid=$!
for _ in $(seq 600); do  # generating a large card takes seconds on a loaded machine
    [ -s "$work/sim.out" ] && break
    sleep 0.05
done
if ! grep -q '^pty: ' "$work/sim.out"; then
    echo "simulator did not start:"; cat "$work/sim.out"; exit 1
fi

winpath() { local p="$1"; echo "Z:${p//\//\\}"; }
shots="$root/build/screenshots"
mkdir -p "$shots" "$work/shots"
export DORVEX_TEST_CARD; DORVEX_TEST_CARD="$(winpath "$work/card")"
export DORVEX_SCREENSHOT_DIR; DORVEX_SCREENSHOT_DIR="$(winpath "$work/shots")"
export DORVEX_TEST_PORT=1
export DORVEX_TEST_TRACE; DORVEX_TEST_TRACE="$(winpath "$work/trace.txt")"
if [ "$lang" = ja ]; then
    LC_ALL=ja_JP.UTF-8 wine "$exe" --gtest_filter="$filter"
else
    wine "$exe" --gtest_filter="$filter"
fi
rc=$?
for bmp in "$work"/shots/*.bmp; do
    [ -f "$bmp" ] || continue
    convert "$bmp" "$shots/$(basename "${bmp%.bmp}")_$lang.png"
done
if [ "$rc" != 0 ]; then
    echo "--- simulator trace (last 40 lines)"; tail -40 "$work/trace.txt"
fi
exit "$rc"
