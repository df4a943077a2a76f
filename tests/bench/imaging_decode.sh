#!/usr/bin/env bash
# Decode benchmark: the 1152 x 872 4:2:0 quality-90 camera-like picture, decoded by
# dorvex-imaging (build/host, Release) and by `djpeg -dct int -nosmooth -ppm`, alternating.
# Prints the median wall time of each, their ratio, and callgrind instruction counts.
#   tests/bench/imaging_decode.sh [RUNS]      (default 31 runs each)
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
tool="$root/build/host/bin/dorvex-imaging"
runs="${1:-31}"
work="$root/build/bench/imaging"
mkdir -p "$work"
[ -x "$tool" ] || { echo "missing $tool (./run build)"; exit 1; }

picture="$work/camera-1152x872-420-q90.jpg"
if [ ! -f "$picture" ]; then
    convert -seed 7 -size 1152x872 plasma:fractal -attenuate 0.5 +noise Gaussian "$work/source.ppm"
    cjpeg -quality 90 -sample 2x2 "$work/source.ppm" >"$picture"
fi

python3 - "$tool" "$picture" "$work" "$runs" <<'PY'
import os, statistics, subprocess, sys, time
tool, picture, work, runs = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
ours_out, ref_out = os.path.join(work, "ours.ppm"), os.path.join(work, "djpeg.ppm")
ours_cmd = [tool, "decode", picture, ours_out]
ref_cmd = ["djpeg", "-dct", "int", "-nosmooth", "-ppm", "-outfile", ref_out, picture]

def timed(cmd):
    start = time.perf_counter()
    subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL)
    return time.perf_counter() - start

for _ in range(3):  # warm the page cache and the binaries
    timed(ours_cmd); timed(ref_cmd)
ours, ref = [], []
for _ in range(runs):
    ours.append(timed(ours_cmd))
    ref.append(timed(ref_cmd))
mo, mr = statistics.median(ours), statistics.median(ref)
print(f"picture      {os.path.basename(picture)} ({os.path.getsize(picture)} bytes), {runs} runs each, alternating")
print(f"dorvex       median {mo * 1000:.2f} ms  (fastest {min(ours) * 1000:.2f})")
print(f"djpeg        median {mr * 1000:.2f} ms  (fastest {min(ref) * 1000:.2f})")
print(f"ratio        {mo / mr:.2f} of medians, {min(ours) / min(ref):.2f} of fastest runs "
      f"(whole process: read, decode, write PPM; load average {os.getloadavg()[0]:.1f})")
sys.stdout.flush()

def instructions(cmd, name):
    out = os.path.join(work, f"callgrind.{name}")
    result = subprocess.run(["valgrind", "--tool=callgrind", f"--callgrind-out-file={out}"] + cmd,
                            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    for line in result.stderr.splitlines():
        if "Collected" in line:
            return int(line.split(":")[-1].strip())
    return None

io, ir = instructions(ours_cmd, "dorvex"), instructions(ref_cmd, "djpeg")
if io and ir:
    print(f"instructions dorvex {io:,}  djpeg {ir:,}  ratio {io / ir:.2f}")
    # Where our instructions go, by function.
    annotate = subprocess.run(["callgrind_annotate", os.path.join(work, "callgrind.dorvex")],
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True).stdout
    rows = [l for l in annotate.splitlines() if "(" in l and "%)" in l and "PROGRAM TOTALS" not in l]
    print("dorvex by function:")
    for line in rows[:8]:
        count, rest = line.split(None, 1)
        share = rest.split(")")[0].strip("( ")
        name = rest.split(")", 1)[1].strip().split(" [")[0].split(":", 1)[-1]
        print(f"  {share:>7}  {count:>12}  {name[:90]}")
PY
