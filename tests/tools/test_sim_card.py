"""The built-in card: pictures that djpeg decodes to the drawn scene, EXIF that exiftool reads in
both byte orders, JPEG and TIFF thumbnails, information blocks ending at the frame header,
deterministic output; and a card made of a directory of files."""
import json
import os
import shutil
import struct
import subprocess

import simtest
from sim_client import Client, word

# (model, width, height, quality code, sampling byte of Y, restart, byte order, thumbnail kind)
KINDS = [("Dorvex", 1152, 872, 2.5, 0x22, False, "II", "jpeg"),
         ("Dorvex", 1152, 872, 1, 0x21, True, "MM", "jpeg"),
         ("Pava", 1024, 768, 1, 0x22, False, "II", "tiff-ycbcr"),
         ("Pava", 1024, 768, 6, 0x21, False, "MM", "tiff-rgb"),
         ("Dorvex", 1152, 872, 3, 0x21, True, "II", "tiff-ycbcr"),
         ("Pava", 1024, 768, 2, 0x22, False, "MM", "jpeg")]


def djpeg(path):
    out = subprocess.run(["djpeg", "-pnm", path], check=True, capture_output=True).stdout
    header = out.split(b"\n", 3)
    width, height = map(int, header[1].split())
    return width, height, header[3]


def pixel(rgb, width, x, y):
    i = (y * width + x) * 3
    return tuple(rgb[i:i + 3])


def read_tiff(data):
    """Uncompressed RGB or YCbCr 2x1 TIFF (TIFF 6.0 sections 6 and 21) to width, height, RGB."""
    order = "<" if data[:2] == b"II" else ">"
    assert struct.unpack(order + "H", data[2:4])[0] == 42
    ifd = struct.unpack(order + "I", data[4:8])[0]
    count = struct.unpack(order + "H", data[ifd:ifd + 2])[0]
    tags = {}
    for i in range(count):
        tag, kind, n = struct.unpack(order + "HHI", data[ifd + 2 + 12 * i:ifd + 10 + 12 * i])
        raw = data[ifd + 10 + 12 * i:ifd + 14 + 12 * i]
        size = {3: 2, 4: 4, 5: 8}.get(kind, 1) * n
        if size > 4:
            raw = data[struct.unpack(order + "I", raw)[0]:][:size]
        fmt = {3: "H", 4: "I", 5: "II"}.get(kind, "B") * n
        tags[tag] = struct.unpack(order + fmt, raw[:struct.calcsize(order + fmt)])
    width, height = tags[256][0], tags[257][0]
    strip = data[tags[273][0]:tags[273][0] + tags[279][0]]
    if tags[262][0] == 2:
        return width, height, bytes(strip)
    assert tags[262][0] == 6 and tags[530] == (2, 1)
    rgb = bytearray()
    for y in range(height):
        for k in range(width // 2):
            unit = strip[4 * (y * width // 2 + k):][:4]
            cb, cr = unit[2] - 128, unit[3] - 128
            for luma in unit[:2]:
                for value in (luma + 1.402 * cr, luma - 0.344136 * cb - 0.714136 * cr, luma + 1.772 * cb):
                    rgb.append(max(0, min(255, int(round(value)))))
    return width, height, bytes(rgb)


class Card(simtest.SimTestCase):
    def dump(self, name="card", *args):
        out = os.path.join(self.tmp, name)
        subprocess.run([simtest.SIM, "--dump-card", out] + list(args), check=True)
        return out

    def assert_scene(self, rgb, width, height, number, tolerance):
        """The sun and the house of picture number are where the scene draws them."""
        sun = pixel(rgb, width, (200 + (number * 97) % 600) * width // 1024, 260 * height // 1024)
        house = pixel(rgb, width, 740 * width // 1024, 600 * height // 1024)
        for got, want in ((sun, (250, 210, 60)), (house, (180, 60 + (number * 30) % 150, 50))):
            for g, w in zip(got, want):
                self.assertLessEqual(abs(g - w), tolerance, (number, got, want))

    def test_pictures_decode_to_the_scene_with_the_kind_layout(self):
        card = self.dump()
        for n, kind in enumerate(KINDS, 1):
            path = os.path.join(card, "%02d.jpg" % n)
            width, height, rgb = djpeg(path)
            self.assertEqual((width, height), kind[1:3])
            self.assert_scene(rgb, width, height, n, 12)
            with open(path, "rb") as f:
                data = f.read()
            sof = data.index(b"\xff\xc0")
            self.assertEqual(data[sof + 11], kind[4])  # Y sampling factors
            self.assertEqual(b"\xff\xdd" in data[:data.index(b"\xff\xda")], kind[5])
            if kind[5]:
                self.assertIn(b"\xff\xd0", data[data.index(b"\xff\xda"):])
            with open(os.path.join(card, "%02d.info" % n), "rb") as f:
                info = f.read()
            self.assertTrue(data.startswith(info))
            self.assertEqual(info[:4], b"\xff\xd8\xff\xe1")
            self.assertEqual(len(info), sof + 2 + 17)  # ends with the whole SOF0 segment

    def test_exif_read_by_exiftool(self):
        card = self.dump()
        paths = [os.path.join(card, "%02d.jpg" % n) for n in range(1, 7)]
        out = subprocess.run(["exiftool", "-j", "-n", "-Make", "-Model", "-DateTimeOriginal", "-ExifVersion",
                              "-CompressedBitsPerPixel", "-FNumber", "-ExposureTime", "-ExposureCompensation",
                              "-ExifByteOrder", "-ImageWidth", "-ImageHeight"] + paths,
                             check=True, capture_output=True).stdout
        records = json.loads(out)
        expected_bias = [0, -0.3, 0.7, None, 1.0, -1.0]
        for n, (record, kind) in enumerate(zip(records, KINDS), 1):
            self.assertEqual(record["Make"], "Zelmar")
            self.assertEqual(record["Model"], kind[0])
            self.assertEqual(record["CompressedBitsPerPixel"], kind[3])
            self.assertEqual(str(record["ExifVersion"]), "0210")
            self.assertRegex(record["DateTimeOriginal"], r"^2001:02:\d\d \d\d:\d\d:\d\d$")
            self.assertEqual(record["ExifByteOrder"], kind[6])
            self.assertEqual((record["ImageWidth"], record["ImageHeight"]), kind[1:3])
            self.assertGreater(record["FNumber"], 1.0)
            self.assertLess(record["ExposureTime"], 0.1)
            self.assertAlmostEqual(record.get("ExposureCompensation"), expected_bias[n - 1]) \
                if expected_bias[n - 1] is not None else self.assertNotIn("ExposureCompensation", record)

    def test_thumbnails_jpeg_and_tiff(self):
        card = self.dump()
        for n, kind in enumerate(KINDS, 1):
            if kind[7] == "jpeg":
                path = os.path.join(card, "%02d.thm" % n)
                with open(path, "rb") as f:
                    self.assertEqual(f.read(1), b"\xff")
                width, height, rgb = djpeg(path)
            else:
                with open(os.path.join(card, "%02d.tif" % n), "rb") as f:
                    data = f.read()
                self.assertEqual(data[:2].decode(), kind[6])
                width, height, rgb = read_tiff(data)
            self.assertEqual((width, height), (80, 60))
            self.assert_scene(rgb, width, height, n, 32)

    def test_output_is_deterministic_and_cycles_the_kinds(self):
        first, second = self.dump("a", "--pictures", "8"), self.dump("b", "--pictures", "8")
        names = sorted(os.listdir(first))
        self.assertEqual(names, sorted(os.listdir(second)))
        self.assertEqual(len([name for name in names if name.endswith(".jpg")]), 8)
        for name in names:
            with open(os.path.join(first, name), "rb") as a, open(os.path.join(second, name), "rb") as b:
                self.assertEqual(a.read(), b.read(), name)
        self.assertEqual(djpeg(os.path.join(first, "07.jpg"))[:2], (1152, 872))
        self.assertEqual(djpeg(os.path.join(first, "08.jpg"))[:2], (1152, 872))
        self.assertTrue(os.path.exists(os.path.join(first, "08.thm")))

    def test_card_directory_with_side_and_embedded_thumbnails(self):
        built = self.dump()
        card = os.path.join(self.tmp, "dir")
        os.mkdir(card)
        shutil.copy(os.path.join(built, "01.jpg"), os.path.join(card, "b.jpg"))
        shutil.copy(os.path.join(built, "01.thm"), os.path.join(card, "b.thm"))
        shutil.copy(os.path.join(built, "03.jpg"), os.path.join(card, "c.JPG"))
        shutil.copy(os.path.join(built, "02.jpg"), os.path.join(card, "a.jpg"))
        subprocess.run(["exiftool", "-q", "-overwrite_original", "-ThumbnailImage<=" +
                        os.path.join(built, "06.thm"), os.path.join(card, "a.jpg")], check=True)
        with open(os.path.join(card, "notes.txt"), "w") as f:
            f.write("not a picture")
        sim = self.start("--card", card)
        with Client(sim.path) as c:
            self.assertEqual(word(c.get_stat(), 12), 3)
            files = ["a.jpg", "b.jpg", "c.JPG"]
            thumbs = [os.path.join(built, "06.thm"), os.path.join(card, "b.thm"), None]
            for n, (name, thumb_path) in enumerate(zip(files, thumbs), 1):
                with open(os.path.join(card, name), "rb") as f:
                    jpeg = f.read()
                info, status = c.get_img_info(n)
                self.assertTrue(jpeg.startswith(info))
                self.assertEqual(info[-19:-17], b"\xff\xc0")
                handle = word(status, 4)
                self.assertEqual(c.get_jpeg(handle)[0], jpeg)
                thumb, status = c.get_thumb(handle)
                if thumb_path:
                    with open(thumb_path, "rb") as f:
                        self.assertEqual(thumb, f.read())
                else:
                    self.assertEqual(word(status, 2), 0x0811)

    def test_bad_card_directory_is_an_error(self):
        card = os.path.join(self.tmp, "bad")
        os.mkdir(card)
        with open(os.path.join(card, "x.jpg"), "wb") as f:
            f.write(b"GIF89a")
        result = subprocess.run([simtest.SIM, "--card", card], capture_output=True, timeout=10)
        self.assertEqual(result.returncode, 1)
        self.assertIn(b"not a JPEG file", result.stderr)
        result = subprocess.run([simtest.SIM, "--card", os.path.join(self.tmp, "missing")], capture_output=True,
                                timeout=10)
        self.assertEqual(result.returncode, 1)


if __name__ == "__main__":
    simtest.main()
