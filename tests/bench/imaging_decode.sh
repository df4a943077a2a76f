#!/usr/bin/env bash
# Decode benchmark: the 1152 x 872 4:2:0 quality-90 camera-like picture, decoded by
# dorvex-imaging (build/host, Release), by `djpeg -dct int -nosmooth -ppm` (the same work: no
# chroma smoothing) and by `djpeg` with its default options, alternating. Prints the median and
# fastest wall and CPU times of each, the ratios, and callgrind instruction counts.
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
# djpeg as we decode (no smoothing of the chroma), and djpeg with its default options.
ref_cmd = ["djpeg", "-dct", "int", "-nosmooth", "-ppm", "-outfile", ref_out, picture]
default_cmd = ["djpeg", "-outfile", os.path.join(work, "djpeg-default.ppm"), picture]

def timed(cmd):
    """Wall time and CPU time (user + system, from the kernel's accounting) of one run."""
    start = time.perf_counter()
    process = subprocess.Popen(cmd, stdout=subprocess.DEVNULL)
    _, status, usage = os.wait4(process.pid, 0)
    wall = time.perf_counter() - start
    process.returncode = os.waitstatus_to_exitcode(status)
    if process.returncode != 0:
        raise SystemExit(f"{cmd[0]} failed")
    return wall, usage.ru_utime + usage.ru_stime

for _ in range(3):  # warm the page cache and the binaries
    timed(ours_cmd); timed(ref_cmd); timed(default_cmd)
ours, ref, default = [], [], []
for _ in range(runs):  # alternating, so that the machine's load falls on all alike
    ours.append(timed(ours_cmd))
    ref.append(timed(ref_cmd))
    default.append(timed(default_cmd))

def stats(samples, k):
    values = [s[k] for s in samples]
    return statistics.median(values), min(values)

print(f"picture      {os.path.basename(picture)} ({os.path.getsize(picture)} bytes), {runs} runs each, alternating")
for name, samples in (("dorvex", ours), ("djpeg -nosmooth", ref), ("djpeg default", default)):
    (wm, wf), (cm, cf) = stats(samples, 0), stats(samples, 1)
    print(f"{name:16s} wall median {wm * 1000:6.2f} ms (fastest {wf * 1000:6.2f})   "
          f"cpu median {cm * 1000:6.2f} ms (least {cf * 1000:6.2f})")
for name, samples in (("djpeg -nosmooth", ref), ("djpeg default", default)):
    print(f"ratio to {name:16s} wall {stats(ours, 0)[0] / stats(samples, 0)[0]:.2f} of medians, "
          f"{stats(ours, 0)[1] / stats(samples, 0)[1]:.2f} of fastest; "
          f"cpu {stats(ours, 1)[0] / stats(samples, 1)[0]:.2f} of medians")
print(f"(whole process: read, decode, write PPM; load average {os.getloadavg()[0]:.1f} on {os.cpu_count()} cores)")
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
