#!/usr/bin/env bash
# dorvex-imaging: the three subcommands' outputs and exit codes, on pictures made here.
#   cli_test.sh TOOL WORK_DIR
set -euo pipefail
tool="$1"
work="$2"
mkdir -p "$work"
fail() { echo "FAIL: $*"; exit 1; }

convert -seed 5 -size 45x31 plasma:fractal -depth 8 "$work/src.ppm"
cjpeg -quality 85 -sample 2x1 "$work/src.ppm" >"$work/pic.jpg"

# decode: a binary PPM of the picture's size, equal to djpeg within the oracle's bound.
"$tool" decode "$work/pic.jpg" "$work/out.ppm" || fail "decode exit $?"
djpeg -dct int -nosmooth -ppm "$work/pic.jpg" >"$work/ref.ppm"
python3 - "$work/out.ppm" "$work/ref.ppm" <<'PY' || fail "decode output"
import sys
def load(p):
    d = open(p, 'rb').read()
    head = d.split(None, 4)
    assert head[0] == b'P6', head[0]
    return int(head[1]), int(head[2]), head[4][:int(head[1]) * int(head[2]) * 3]
w, h, ours = load(sys.argv[1]); rw, rh, ref = load(sys.argv[2])
assert (w, h) == (45, 31) == (rw, rh), (w, h, rw, rh)
assert len(ours) == w * h * 3
worst = max(abs(a - b) for a, b in zip(ours, ref))
assert worst <= 10, worst
PY

# A refused file: exit status 1 and, on standard error, the file and what is wrong with it.
refused() {  # COMMAND FILE MESSAGE
    local message status
    set +e
    message="$("$tool" "$1" "$work/$2" "$work/refused.ppm" 2>&1 >/dev/null)"
    status=$?
    set -e
    [ "$status" -eq 1 ] && [ "$message" = "dorvex-imaging: $work/$2: $3" ] || fail "$1 $2: $status '$message'"
}
head -c 300 "$work/pic.jpg" >"$work/cut.jpg"
refused decode cut.jpg "file ends early"
cjpeg -progressive "$work/src.ppm" >"$work/progressive.jpg"
refused decode progressive.jpg "not a baseline JPEG (progressive)"
refused dither progressive.jpg "not a baseline JPEG (progressive)"
echo "P6 1 1 255" >"$work/text.jpg"
refused decode text.jpg "not a JPEG or a TIFF thumbnail"
printf 'II\x2a\x00\x08\x00\x00\x00\x00\x00\x00\x00\x00\x00' >"$work/empty.tif"
refused decode empty.tif "malformed header (a segment or tag with values out of range)"
: >"$work/empty.jpg"
refused dither empty.jpg "empty file"
# A file that cannot be written: named with the reason, exit status 2.
set +e
message="$("$tool" decode "$work/pic.jpg" "$work/no/such/dir/out.ppm" 2>&1)"
status=$?
set -e
[ "$status" -eq 2 ] && [ "$message" = "dorvex-imaging: $work/no/such/dir/out.ppm: cannot create (No such file or directory)" ] ||
    fail "unwritable output: $status '$message'"
"$tool" --help | grep -q "^usage: dorvex-imaging decode" || fail "--help"

# exif: the keys in order, absent texts empty, result last.
cp "$work/pic.jpg" "$work/exif.jpg"
exiftool -q -overwrite_original -ExifByteOrder=II -Make=Zelmar -FNumber=2.8 -ExposureTime=1/60 "$work/exif.jpg"
"$tool" exif "$work/exif.jpg" >"$work/exif.txt" || fail "exif exit $?"
expected='width=45
height=31
make=Zelmar
model=
dateTimeOriginal=
qualityCode=0
fNumber=2.79999995
exposureTime=0.0166666675
exposureBias=65535
byteOrder=0x4949
result=ok'
[ "$(cat "$work/exif.txt")" = "$expected" ] || { diff <(echo "$expected") "$work/exif.txt"; fail "exif output"; }
set +e
"$tool" exif "$work/pic.jpg" >"$work/noexif.txt"
status=$?
set -e
[ "$status" -eq 1 ] && [ "$(tail -1 "$work/noexif.txt")" = "result=ErrWrongFormat" ] || fail "exif without EXIF"

# dither: same size, only colours of the 8 x 8 x 4 cube.
"$tool" dither "$work/pic.jpg" "$work/dither.ppm" || fail "dither exit $?"
python3 - "$work/dither.ppm" <<'PY' || fail "dither output"
import sys
d = open(sys.argv[1], 'rb').read()
head = d.split(None, 4)
w, h = int(head[1]), int(head[2])
assert (w, h) == (45, 31)
px = head[4][:w * h * 3]
rg = {r * 255 // 7 for r in range(8)}
bl = {b * 255 // 3 for b in range(4)}
for i in range(0, len(px), 3):
    assert px[i] in rg and px[i + 1] in rg and px[i + 2] in bl, (i, px[i:i + 3])
assert len(set(px[i:i + 3] for i in range(0, len(px), 3))) > 4
PY
echo "dorvex-imaging: all checks passed"
