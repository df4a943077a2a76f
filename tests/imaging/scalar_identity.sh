#!/usr/bin/env bash
# Every fast path of the decoder (SSE2 IDCT and its 4x4 form, chroma terms by float division,
# row writers) against the same decoder built without vector code: identical output bytes and
# exit status on a corpus of pictures made here (every sampling, qualities up to 100, restart
# intervals, grey, sizes that cut MCUs) and on any extra files given.
#   scalar_identity.sh FAST_TOOL SCALAR_TOOL WORK_DIR [EXTRA.jpg...]
set -uo pipefail
fast="$1"; scalar="$2"; work="$3"; shift 3
mkdir -p "$work"
fail=0
n=0
convert -seed 11 -size 301x203 plasma:fractal -attenuate 0.6 +noise Gaussian "$work/noise.ppm"
convert -seed 12 -size 64x48 xc: +noise Random "$work/random.ppm"
convert -size 129x67 gradient:red-blue "$work/gradient.ppm"
for src in noise random gradient; do
    for sample in 1x1 2x1 1x2 2x2 4x1 1x4; do
        for q in 30 75 95 100; do
            cjpeg -quality "$q" -sample "$sample" "$work/$src.ppm" >"$work/$src-$sample-$q.jpg"
        done
    done
    cjpeg -quality 90 -restart 1 "$work/$src.ppm" >"$work/$src-restart.jpg"
    cjpeg -quality 90 -grayscale "$work/$src.ppm" >"$work/$src-grey.jpg"
done
for picture in "$work"/*.jpg "$@"; do
    [ -f "$picture" ] || continue
    n=$((n + 1))
    "$fast" decode "$picture" "$work/fast.ppm" >"$work/fast.txt" 2>&1; a=$?
    "$scalar" decode "$picture" "$work/scalar.ppm" >"$work/scalar.txt" 2>&1; b=$?
    if [ "$a" != "$b" ] || ! cmp -s "$work/fast.txt" "$work/scalar.txt"; then
        echo "FAIL $picture: exit $a / $b"; fail=1; continue
    fi
    if [ "$a" = 0 ] && ! cmp -s "$work/fast.ppm" "$work/scalar.ppm"; then
        echo "FAIL $picture: pixels differ"; fail=1
    fi
    rm -f "$work/fast.ppm" "$work/scalar.ppm"
done
echo "$n pictures compared"
[ "$n" -ge 70 ] || { echo "FAIL: corpus too small"; fail=1; }
exit "$fail"
