#!/usr/bin/env python3
"""acquire.exe against the fake source, through our TWAIN_32.DLL under Wine.

The fake source delivers a generated picture (tests/tools/fake_pixel.h); the saved BMP must
hold exactly that picture, by native and by memory transfer, at sizes that need row padding.
Also: the session ended by the source (MSG_CLOSEDSREQ), the time-out, an unknown source, a
bad command line and an unwritable output file, each with its exit status.

With FAKE_DS_SCRIPT=dialogs the fake source shows stand-ins of the camera and acquire dialogs
(same control ids and titles as the real ones), which exercises the --auto driver: the status
report and Cancel, picking a list position (the picture's width tells which one was taken), a
position that does not exist, Open disabled, and message boxes answered or left alone.

usage: acquire_fake_test.py ACQUIRE_EXE BIN_DIR [TEST_CLASS]
"""
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest

ACQUIRE, BIN = sys.argv[1], sys.argv[2]


def fake_pixel(x, y, c):
    """Mirror of fakePixel() in fake_pixel.h."""
    if c == 0:
        v = x * 7 + y * 3
    elif c == 1:
        v = x * 3 + y * 11 + 40
    else:
        v = (x ^ y) * 5 + 90
    return v & 0xFF


def windows_path(path):
    return "Z:" + path.replace("/", "\\")


def read_bmp(path):
    with open(path, "rb") as f:
        data = f.read()
    assert data[:2] == b"BM", "not a BMP"
    size, _, offset, header, width, height, planes, bits, compression = struct.unpack_from("<IIIIiiHHI", data, 2)
    assert size == len(data), "file size field %d, file %d" % (size, len(data))
    assert (header, planes, bits, compression) == (40, 1, 24, 0), (header, planes, bits, compression)
    assert height > 0, "not bottom-up"
    stride = (width * 3 + 3) & ~3
    assert offset + stride * height == len(data)
    rows = []
    for y in range(height):
        row = data[offset + (height - 1 - y) * stride: offset + (height - y) * stride]
        assert row[width * 3:] == bytes(stride - width * 3), "padding not zero"
        rows.append(row[:width * 3])
    return width, height, rows


class FakeSourceFolder(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.root = tempfile.mkdtemp(prefix="acquire_fake_")
        os.makedirs(os.path.join(cls.root, "sources", "Test"))
        for name in ("fake_alpha.ds", "fake_beta.ds"):
            shutil.copy(os.path.join(BIN, name), os.path.join(cls.root, "sources", "Test", name))

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.root, ignore_errors=True)

    def run_acquire(self, args, script="none", size=None, timeout=60):
        env = dict(os.environ)
        env["DORVEX_TWAIN_DIR"] = windows_path(os.path.join(self.root, "sources"))
        env["FAKE_DS_SCRIPT"] = script
        if size:
            env["FAKE_DS_SIZE"] = size
        result = subprocess.run(["wine", ACQUIRE] + args, env=env, capture_output=True, text=True, timeout=timeout)
        return result.returncode, result.stdout + result.stderr


class Transfers(FakeSourceFolder):
    def check_picture(self, mechanism, size):
        out = os.path.join(self.root, "%s_%s.bmp" % (mechanism, size))
        status, text = self.run_acquire(["--source", "Fake Beta", "--" + mechanism, "--out", windows_path(out),
                                         "--timeout", "20"], script="xferready", size=size)
        self.assertEqual(status, 0, text)
        self.assertIn("Transfer mechanism: %s" % mechanism, text)
        self.assertIn("MSG_XFERREADY", text)
        self.assertIn("Session closed", text)
        w, h = (int(v) for v in size.split("x"))
        width, height, rows = read_bmp(out)
        self.assertEqual((width, height), (w, h))
        for y in range(h):
            expected = bytes(fake_pixel(x, y, c) for x in range(w) for c in (2, 1, 0))
            self.assertEqual(rows[y], expected, "row %d differs" % y)
        self.assertIn("Saved %d x %d picture (%d bytes)" % (w, h, os.path.getsize(out)), text)

    def test_native_transfer_saves_the_sources_picture(self):
        for size in ("37x23", "1x1"):
            self.check_picture("native", size)

    def test_memory_transfer_saves_the_sources_picture(self):
        for size in ("37x23", "1x1", "4x9"):
            self.check_picture("memory", size)

    def test_lists_every_source_and_prints_the_identity(self):
        status, text = self.run_acquire(["--source", "Fake Alpha", "--timeout", "20"], script="closereq")
        self.assertIn("  Fake Alpha (Test Maker, fake 1.0)", text)
        self.assertIn("  Fake Beta (Test Maker, fake 1.0)", text)
        self.assertIn("Source: Fake Alpha", text)
        self.assertIn('Version: 1.0 "fake 1.0" (language 13, country 1)', text)
        self.assertIn("CAP_SUPPORTEDCAPS: [CAP_XFERCOUNT, ICAP_XFERMECH, ICAP_PIXELTYPE, ICAP_BITDEPTH]", text)
        self.assertEqual(status, 2, text)

    def test_close_request_from_the_source_ends_the_session_without_a_picture(self):
        out = os.path.join(self.root, "never.bmp")
        status, text = self.run_acquire(["--source", "Fake Beta", "--out", windows_path(out), "--timeout", "20"],
                                        script="closereq")
        self.assertEqual(status, 2, text)
        self.assertIn("MSG_CLOSEDSREQ", text)
        self.assertIn("Session closed", text)
        self.assertFalse(os.path.exists(out))

    def test_timeout_bounds_the_run(self):
        status, text = self.run_acquire(["--source", "Fake Beta", "--timeout", "2"])
        self.assertEqual(status, 3, text)
        self.assertIn("Timed out after 2 s", text)
        self.assertIn("Session closed", text)

    def test_failures_report_triplet_and_condition_code(self):
        status, text = self.run_acquire(["--source", "No Such Source", "--timeout", "5"])
        self.assertEqual(status, 1, text)
        self.assertIn("DG_CONTROL / DAT_IDENTITY / MSG_OPENDS: TWRC_FAILURE, condition code 3 (TWCC_NODS)", text)
        status, text = self.run_acquire(["--frobnicate"])
        self.assertEqual(status, 4, text)
        self.assertIn("unknown option --frobnicate", text)
        missing = os.path.join(self.root, "no", "such", "dir", "x.bmp")
        status, text = self.run_acquire(["--source", "Fake Beta", "--out", windows_path(missing), "--timeout", "20"],
                                        script="xferready")
        self.assertEqual(status, 1, text)
        # Found before the manager is even loaded, not after the transfer.
        self.assertIn("cannot write %s: the folder %s\\ does not exist" % (windows_path(missing),
                                                                           windows_path(os.path.dirname(missing))), text)
        self.assertNotIn("Sources:", text)
        inside_file = os.path.join(self.root, "sources", "Test", "fake_beta.ds", "x.bmp")
        status, text = self.run_acquire(["--source", "Fake Beta", "--out", windows_path(inside_file)])
        self.assertEqual(status, 1, text)
        self.assertIn(windows_path(os.path.dirname(inside_file)) + " is a file, not a folder", text)


class Driver(FakeSourceFolder):
    def run_driven(self, args, pictures=3, box=False, timeout=20, empty=0):
        os.environ["FAKE_DS_PICTURES"] = str(pictures)
        os.environ["FAKE_DS_BOX"] = "1" if box else "0"
        os.environ["FAKE_DS_EMPTY"] = str(empty)
        try:
            return self.run_acquire(["--source", "Fake Alpha", "--timeout", str(timeout)] + args, script="dialogs")
        finally:
            del os.environ["FAKE_DS_PICTURES"], os.environ["FAKE_DS_BOX"], os.environ["FAKE_DS_EMPTY"]

    def test_auto_reports_the_camera_status_and_cancels(self):
        status, text = self.run_driven(["--auto"], pictures=4)
        self.assertEqual(status, 0, text)
        self.assertIn('Camera connected: pictures taken "4", power "Full"', text)
        self.assertLess(text.index("Pressed Cancel"), text.index("MSG_CLOSEDSREQ"))
        self.assertIn("Session closed", text)

    def test_auto_n_takes_list_position_n(self):
        for position, mechanism in ((2, "--memory"), (6, "--native")):
            out = os.path.join(self.root, "driven_%d.bmp" % position)
            status, text = self.run_driven(["--auto", str(position), mechanism, "--out", windows_path(out)],
                                           pictures=6)
            self.assertEqual(status, 0, text)
            self.assertIn("selecting list position %d" % position, text)
            width, height, rows = read_bmp(out)
            self.assertEqual((width, height), (20 + position - 1, 10), "wrong cell taken")
            self.assertEqual(rows[9], bytes(fake_pixel(x, 9, c) for x in range(width) for c in (2, 1, 0)))

    def test_a_position_beyond_the_list_gives_up_and_cancels(self):
        status, text = self.run_driven(["--auto", "5"], pictures=3)
        self.assertEqual(status, 2, text)
        self.assertIn("Giving up: the list has no position 5", text)
        self.assertIn("MSG_CLOSEDSREQ", text)

    def test_an_empty_slot_is_not_acquired_as_the_earlier_selection(self):
        out = os.path.join(self.root, "empty_slot.bmp")
        status, text = self.run_driven(["--auto", "2", "--out", windows_path(out)], pictures=4, empty=2)
        self.assertEqual(status, 2, text)
        self.assertIn("list position 2 cannot be selected", text)
        self.assertNotIn("Pressed Aquire", text)
        self.assertFalse(os.path.exists(out))

    def test_an_empty_card_gives_up_at_the_camera_dialog(self):
        status, text = self.run_driven(["--auto", "1"], pictures=0)
        self.assertEqual(status, 2, text)
        self.assertIn("Giving up: Open is disabled", text)
        self.assertNotIn("Pressed Open", text)

    def test_message_boxes_are_answered_only_when_asked(self):
        out = os.path.join(self.root, "boxed.bmp")
        status, text = self.run_driven(["--auto", "3", "--answer", "ok", "--out", windows_path(out)], box=True)
        self.assertEqual(status, 0, text)
        self.assertIn("Message box: Found image what has no thumbnail image.", text)
        self.assertIn("Answered the message box with button 1", text)
        self.assertLess(text.index("Answered"), text.index("selecting list position 3"))
        self.assertEqual(read_bmp(out)[0], 22)
        # Left alone, the box stays until the time-out; nothing is taken on the way out.
        out = os.path.join(self.root, "unanswered.bmp")
        status, text = self.run_driven(["--auto", "3", "--out", windows_path(out)], box=True, timeout=3)
        self.assertEqual(status, 3, text)
        self.assertIn("Message box: Found image", text)
        self.assertNotIn("Answered", text)
        self.assertNotIn("Pressed Aquire", text)
        self.assertFalse(os.path.exists(out))
        status, text = self.run_driven(["--auto", "3", "--answer", "yes"], box=True, timeout=3)
        self.assertIn("The message box has no button 6; left open", text)
        self.assertEqual(status, 3, text)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1] + sys.argv[3:], verbosity=2)
