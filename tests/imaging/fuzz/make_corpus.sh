#!/usr/bin/env bash
# Seed corpora for the imaging fuzz targets: small pictures of every kind the decoders take,
# made with ImageMagick, cjpeg and exiftool, and TIFF thumbnails written by python3.
#   make_corpus.sh OUT_DIR   (creates OUT_DIR/fuzz_jpeg, fuzz_exif, fuzz_tiff)
set -euo pipefail
out="$1"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$out/fuzz_jpeg" "$out/fuzz_exif" "$out/fuzz_tiff"

convert -seed 3 -size 40x24 plasma:fractal -attenuate 0.3 +noise Gaussian "$work/src.ppm"
convert -seed 4 -size 17x9 plasma:fractal "$work/odd.ppm"
n=0
for options in "-sample 2x2" "-sample 2x1" "-sample 1x1 -quality 100" "-grayscale" "-sample 2x2 -restart 1B" \
               "-sample 2x1 -optimize" "-grayscale -restart 2B" "-sample 1x2" "-progressive"; do
    cjpeg $options "$work/src.ppm" >"$out/fuzz_jpeg/seed-$n.jpg"
    n=$((n + 1))
done
cjpeg -sample 2x2 "$work/odd.ppm" >"$out/fuzz_jpeg/seed-odd.jpg"
cp "$out/fuzz_jpeg/seed-0.jpg" "$work/exif-mm.jpg"
exiftool -q -overwrite_original -JFIF:all= -ExifByteOrder=MM -Make=Zelmar -Model=Dorvex \
    -DateTimeOriginal="2026:12:07 10:11:12" -FNumber=2.8 -ExposureTime=1/60 -ExposureCompensation=-0.3 \
    -CompressedBitsPerPixel=2.5 "$work/exif-mm.jpg"
cp "$out/fuzz_jpeg/seed-1.jpg" "$work/exif-ii.jpg"
exiftool -q -overwrite_original -JFIF:all= -ExifByteOrder=II -Make=Zelmar -Model=Dorvex \
    -DateTimeOriginal="2026:12:07 10:11:12" -FNumber=5.6 -ExposureTime=1/250 "$work/exif-ii.jpg"
cp "$work/exif-mm.jpg" "$work/exif-ii.jpg" "$out/fuzz_jpeg/"
# Information blocks: everything up to and including the SOF0 segment.
python3 - "$work/exif-mm.jpg" "$work/exif-ii.jpg" "$out/fuzz_exif" <<'PY'
import sys, os
for i, name in enumerate(sys.argv[1:3]):
    d = open(name, 'rb').read()
    p = 2
    while p + 4 <= len(d):
        marker, length = d[p + 1], d[p + 2] << 8 | d[p + 3]
        p += 2 + length
        if marker == 0xC0:
            break
    open(os.path.join(sys.argv[3], 'block-%d.bin' % i), 'wb').write(d[:p])
    open(os.path.join(sys.argv[3], 'file-%d.jpg' % i), 'wb').write(d)
PY
# TIFF thumbnails: grey, WhiteIsZero, RGB, YCbCr 4:2:2 and 4:2:0, both byte orders.
python3 - "$out/fuzz_tiff" <<'PY'
import struct, sys, os
def tiff(little, width, height, photometric, bits, data, sub=None, rows=None):
    e = '<' if little else '>'
    entries = [(256, 3, [width]), (257, 3, [height]), (258, 3, bits), (259, 3, [1]), (262, 3, [photometric]),
               (273, 4, [8]), (279, 4, [len(data)])]
    if rows: entries.append((278, 3, [rows]))
    if sub: entries.append((530, 3, sub))
    entries.sort()
    body = bytearray(data + (b'\0' if len(data) % 2 else b''))
    ifd_at = 8 + len(body)
    extra_at = ifd_at + 2 + 12 * len(entries) + 4
    ifd, extra = bytearray(struct.pack(e + 'H', len(entries))), bytearray()
    for tag, typ, vals in entries:
        raw = b''.join(struct.pack(e + ('H' if typ == 3 else 'I'), v) for v in vals)
        if len(raw) <= 4:
            ifd += struct.pack(e + 'HHI', tag, typ, len(vals)) + raw.ljust(4, b'\0')
        else:
            ifd += struct.pack(e + 'HHII', tag, typ, len(vals), extra_at + len(extra)); extra += raw
    ifd += struct.pack(e + 'I', 0)
    return (b'II' if little else b'MM') + struct.pack(e + 'HI', 42, ifd_at) + bytes(body) + bytes(ifd) + bytes(extra)
w, h = 7, 5
grey = bytes((x * 30 + y * 7) & 255 for y in range(h) for x in range(w))
rgb = bytes((x * 30 + y * 7 + c * 50) & 255 for y in range(h) for x in range(w) for c in range(3))
def units(hs, vs):
    n = ((w + hs - 1) // hs) * ((h + vs - 1) // vs)
    return bytes((i * 13) & 255 for i in range(n * (hs * vs + 2)))
files = {
    'grey-ii.tif': tiff(True, w, h, 1, [8], grey),
    'white-is-zero-mm.tif': tiff(False, w, h, 0, [8], grey, rows=5),
    'rgb-ii.tif': tiff(True, w, h, 2, [8, 8, 8], rgb),
    'ycbcr422-mm.tif': tiff(False, w, h, 6, [8, 8, 8], units(2, 1), sub=[2, 1]),
    'ycbcr420-ii.tif': tiff(True, w, h, 6, [8, 8, 8], units(2, 2), sub=[2, 2]),
}
for name, data in files.items():
    open(os.path.join(sys.argv[1], name), 'wb').write(data)
PY
convert "$work/src.ppm" -resize 20x12 -depth 8 -compress none "$out/fuzz_tiff/imagemagick-rgb.tif"
