#!/usr/bin/env bash
# The main job, run by ./run demo inside the Wine environment (tools/wine/wine-env.sh):
# a simulated camera on COM1, and acquire.exe taking picture 1 from it through our
# TWAIN_32.DLL and DorvexTwain.ds, headless, into out/picture.bmp.
set -euo pipefail
cd "$DORVEX_ROOT"
bin="$DORVEX_ROOT/build/win/bin"
sim="$DORVEX_ROOT/build/host/bin/dorvex-sim"
for f in "$bin/acquire.exe" "$bin/TWAIN_32.DLL" "$bin/DorvexTwain.ds" "$sim"; do
    [ -f "$f" ] || { echo "demo: $f is not built"; exit 1; }
done

work="$(mktemp -d)"
sim_pid=""
stop_sim() {
    if [ -n "$sim_pid" ]; then
        kill "$sim_pid" 2>/dev/null || true
        wait "$sim_pid" 2>/dev/null || true
        sim_pid=""
    fi
    rm -rf "$work"
}
trap stop_sim EXIT

# The simulator links COM1's symlink to its pty itself and says so on its first line.
"$sim" --link "$DORVEX_PORTS/com1" --quiet >"$work/sim.out" 2>"$work/sim.err" &
sim_pid=$!
for _ in $(seq 100); do
    grep -q '^pty: ' "$work/sim.out" 2>/dev/null && break
    kill -0 "$sim_pid" 2>/dev/null || break
    sleep 0.1
done
if ! grep -q '^pty: ' "$work/sim.out" 2>/dev/null; then
    echo "demo: the camera simulator did not start"; cat "$work/sim.err"; exit 1
fi
echo "Camera simulator (pid $sim_pid) on $(head -1 "$work/sim.out" | cut -d' ' -f2), mapped to COM1"

# The prefix is shared with the tests: start from the source's default settings (COM1,
# 9600 bit/s, no automatic thumbnails) whatever a test left in the profile.
wine reg delete 'HKCU\Software\Zelmar\Dorvex TwainDS' /f >/dev/null 2>&1 || true

mkdir -p out
rm -f out/picture.bmp
set +e
wine "$bin/acquire.exe" --auto 1 --out 'out\picture.bmp' --timeout 120
status=$?
set -e
if [ "$status" -eq 0 ] && [ -f out/picture.bmp ]; then
    echo "Picture: $DORVEX_ROOT/out/picture.bmp ($(stat -c %s out/picture.bmp) bytes)"
else
    echo "demo: acquire.exe ended with status $status and no picture"
    exit 1
fi
