#!/usr/bin/env bash
# Acquire dialog benchmark against the simulator pacing its sends at 115200 bit/s (11520 bytes/s):
#   1. listing a card of 30 pictures with automatic thumbnails (GetImgInfo + GetThumb each),
#   2. Aquire to the end of the dialog for a picture of about 150 KB (GetJpeg).
# Each time is set against the time the line needs for the payload bytes of those commands
# (taken from the simulator's trace): efficiency = (payload / 11520) / measured time.
# Target: at least 90 % for both. Run after ./run build:  tests/bench/acquire_list.sh
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
sim="$root/build/host/bin/dorvex-sim"
bench="$root/build/win/bin/acquire_bench.exe"
[ -x "$sim" ] && [ -f "$bench" ] || { echo "missing $sim or $bench (./run build)"; exit 1; }
work="$root/build/bench/acquire"
rm -rf "$work"
mkdir -p "$work"

# The built-in card of 30 pictures, with picture 1 re-encoded to about 150 KB (same EXIF).
"$sim" --pictures 30 --dump-card "$work/card" >/dev/null
orig="$work/card/01.jpg"
djpeg "$orig" >"$work/01.ppm"
for q in 88 86 84 82 80 78 76 74 72 70 65 60; do
    cjpeg -quality "$q" "$work/01.ppm" >"$work/01.jpg"
    [ "$(stat -c %s "$work/01.jpg")" -le 153600 ] && break
done
exiftool -q -overwrite_original -TagsFromFile "$orig" -exif:all "$work/01.jpg"
mv "$work/01.jpg" "$orig"
rm -f "$work"/card/*.info

source "$root/tools/wine/wine-env.sh"
wine_env_start reuse >/dev/null 2>&1
sim_pid=""
cleanup() {
    [ -n "$sim_pid" ] && { kill "$sim_pid" 2>/dev/null; wait "$sim_pid" 2>/dev/null; }
    rm -f "$DORVEX_PORTS/com1"
    wine_env_stop
}
trap cleanup EXIT
rm -f "$DORVEX_PORTS/com1"
"$sim" --card "$work/card" --pace --link "$DORVEX_PORTS/com1" --trace "$work/trace.txt" >"$work/sim.out" 2>&1 &
sim_pid=$!
for _ in $(seq 100); do grep -q '^pty: ' "$work/sim.out" 2>/dev/null && break; sleep 0.05; done

wine "$bench" | tr -d '\r' | tee "$work/result.txt"

python3 - "$work/trace.txt" "$work/result.txt" <<'PY'
import re, sys
trace, result = open(sys.argv[1]).read().splitlines(), open(sys.argv[2]).read()
values = dict(re.findall(r"(\w+)=([\w.]+)", result))
def payload(commands):
    total = 0
    for line in trace:
        m = re.match(r"tx block \d+/\d+ len=(\d+) \w+ msg=(\w+)\.", line)
        if m and m.group(2) in commands:
            total += int(m.group(1))
        m = re.match(r"rx cmd (\w+)", line)
        if m and m.group(1) in commands:
            total += 8  # the request packet's payload
    return total
rate = 11520.0
for name, commands, key in (("listing 30 pictures + thumbnails", ("GetImgInfo", "GetThumb"), "list_seconds"),
                            ("Aquire to done, picture 1", ("GetJpeg",), "download_seconds")):
    bytes_ = payload(commands)
    measured = float(values[key])
    line = bytes_ / rate
    print(f"{name:34s} payload {bytes_:7d} B  line {line:6.2f} s  measured {measured:6.2f} s  "
          f"efficiency {100 * line / measured:5.1f} %")
print(f"decode of the downloaded picture: {values.get('decode_seconds')} s (not part of the figures above)")
PY
