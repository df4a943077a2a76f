#!/usr/bin/env python3
"""The 64-bit road under 64-bit Wine: the 64-bit acquire.exe loads our 64-bit manager
(TWAINDSM.DLL, beside it), which finds the 64-bit DorvexTwain.ds below C:\\windows\\twain_64,
hands it its entry point (DAT_ENTRYPOINT) before MSG_OPENDS, and passes the source's
notifications on; the simulator is on COM1.

Road:     a 1.x application takes picture 1 by native and by memory transfer; the saved BMP
          equals the simulator's JPEG decoded by dorvex-imaging, pixel for pixel.
Callback: the same as a 2.x application (DF_APP2, the manager's memory functions,
          notifications through its DAT_CALLBACK2 callback).
Cancel:   the camera dialog's Cancel sends MSG_CLOSEDSREQ, which reaches a 1.x and a 2.x
          application and ends the session cleanly.
Lazy:     a 2.x application that acts on a callback's notification only when its message loop
          next gets a message, a loop that nothing of its own feeds: Cancel ends the session and
          Aquire delivers the picture all the same.
Cycles:   open / enable / acquire / close cycles in one 2.x application process; memory, heap
          and GDI objects must not grow from cycle to cycle.

usage: road64_test.py ACQUIRE_EXE HOST_BIN TEST_CLASS
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "scenarios"))
from scenario_support import Simulator, Tools, read_bmp_rgb, read_ppm, reset_profile, windows_path  # noqa: E402

ACQUIRE, HOST_BIN = sys.argv[1], sys.argv[2]
TOOLS = Tools(ACQUIRE, HOST_BIN)
SIM = TOOLS.sim
IMAGING = TOOLS.imaging


class WithSimulator(unittest.TestCase):
    def setUp(self):
        self.assertEqual(os.environ.get("WINEARCH"), "win64", "these tests need the 64-bit Wine environment")
        self.work = tempfile.mkdtemp(prefix="road64_")
        reset_profile(cache=None)  # no profile at all: every value at its default
        self.sim = Simulator(TOOLS, self.work)

    def tearDown(self):
        self.sim.stop()
        shutil.rmtree(self.work, ignore_errors=True)

    def run_acquire(self, args, timeout=300):
        # Output through a file: Wine's helper processes may keep a pipe open.
        out_path = os.path.join(self.work, "acquire.out")
        with open(out_path, "wb") as out:
            status = subprocess.run(["wine", ACQUIRE] + args, stdin=subprocess.DEVNULL, stdout=out,
                                    stderr=subprocess.STDOUT, timeout=timeout).returncode
        with open(out_path, "rb") as out:
            return status, out.read().decode("utf-8", errors="replace")

    def expected_picture(self, position):
        card = os.path.join(self.work, "card")
        if not os.path.isdir(card):
            subprocess.run([SIM, "--dump-card", card], check=True, capture_output=True, timeout=120)
        ppm = os.path.join(self.work, "%02d.ppm" % position)
        subprocess.run([IMAGING, "decode", os.path.join(card, "%02d.jpg" % position), ppm], check=True,
                       capture_output=True, timeout=120)
        return read_ppm(ppm)

    def expect_2x_source(self, text):
        # The 64-bit source says it is a 2.x source, so the manager gave it its entry point.
        self.assertIn("Source: Zelmar Dorvex", text)
        self.assertIn("  Protocol: 2.0", text)
        self.assertIn("  Supported groups: 0x40000003", text)

    def acquire_and_compare(self, extra, mechanism):
        expected = self.expected_picture(1)
        out = os.path.join(self.work, "%s%s.bmp" % (mechanism, "".join(extra).replace("-", "_")))
        started = time.time()
        status, text = self.run_acquire(["--auto", "1", "--" + mechanism, "--out", windows_path(out),
                                         "--answer", "ok", "--timeout", "110"] + extra)
        self.assertEqual(status, 0, text)
        self.expect_2x_source(text)
        self.assertIn("Transfer mechanism: " + mechanism, text)
        self.assertIn("MSG_XFERREADY", text)
        self.assertIn("Session closed", text)
        width, height, rgb = read_bmp_rgb(out)
        self.assertEqual((width, height), expected[:2])
        self.assertTrue(rgb == expected[2], "picture 1 by %s transfer %s: pixels differ from the decoded JPEG"
                        % (mechanism, extra))
        print("picture 1, %s %s: %d x %d in %.1f s" % (mechanism, extra, width, height, time.time() - started))


class Road(WithSimulator):
    def test_a_1x_application_takes_the_picture_by_native_and_memory_transfer(self):
        for mechanism in ("native", "memory"):
            self.acquire_and_compare([], mechanism)


class Callback(WithSimulator):
    def test_a_2x_application_takes_the_picture_through_its_callback(self):
        for mechanism in ("native", "memory"):
            self.acquire_and_compare(["--app2"], mechanism)


class Cancel(WithSimulator):
    def test_cancel_in_the_camera_dialog_reaches_1x_and_2x_applications(self):
        for extra in ([], ["--app2"]):
            status, text = self.run_acquire(["--auto", "--timeout", "60"] + extra)
            self.expect_2x_source(text)
            self.assertIn("Source enabled", text)
            self.assertIn("Pressed Cancel", text)
            self.assertLess(text.index("Pressed Cancel"), text.index("MSG_CLOSEDSREQ"))
            self.assertIn("Session closed", text)
            self.assertNotIn("TWAIN failure", text)
            self.assertEqual(status, 0, text)


class Lazy(WithSimulator):
    def test_a_lazy_callback_application_gets_cancel_and_the_picture(self):
        status, text = self.run_acquire(["--auto", "--timeout", "60", "--callback-lazy"])
        self.assertIn("Pressed Cancel", text)
        self.assertIn("MSG_CLOSEDSREQ", text, text)
        self.assertNotIn("Timed out", text)
        self.assertIn("Session closed", text)
        self.assertEqual(status, 0, text)
        self.acquire_and_compare(["--callback-lazy"], "native")


class Cycles(WithSimulator):
    CYCLES = int(os.environ.get("DORVEX_CYCLES", "10"))

    def test_open_enable_acquire_close_cycles_in_one_2x_process(self):
        out = os.path.join(self.work, "cycle.bmp")
        status, text = self.run_acquire(["--cycles", str(self.CYCLES), "--auto", "1", "--native", "--app2",
                                         "--out", windows_path(out), "--answer", "ok", "--timeout", "110"],
                                        timeout=900)
        for line in text.splitlines():
            if line.startswith(("Resources", "Growth", "Cycles completed")):
                print(line)
        self.assertEqual(status, 0, text[-3000:])
        self.assertIn("Cycles completed: %d of %d" % (self.CYCLES, self.CYCLES), text)
        self.assertEqual(text.count("MSG_XFERREADY"), self.CYCLES)
        self.assertEqual(text.count("Session closed"), self.CYCLES)
        expected = self.expected_picture(1)
        width, height, rgb = read_bmp_rgb(out)
        self.assertEqual((width, height), expected[:2])
        self.assertTrue(rgb == expected[2], "the last cycle's picture differs from the decoded JPEG")
        growth = re.search(r"Growth from cycle 1 to the end: working set ([-+]\d+) KiB, private ([-+]\d+) KiB, "
                           r"handles ([-+]\d+), threads ([-+]\d+), GDI ([-+]\d+), USER ([-+]\d+), "
                           r"heap ([-+]\d+) blocks / ([-+]\d+) KiB", text)
        self.assertIsNotNone(growth, text[-3000:])
        _, private, _, threads, gdi, _, blocks, heap = (int(g) for g in growth.groups())
        # A bitmap handed out through the manager's memory and never freed would add 3 MB per
        # cycle; a block, window or GDI object per cycle shows in the counts. Wine keeps no
        # kernel handle or USER object counts.
        self.assertLess(private, 4 * 1024, "private bytes grew")
        self.assertLess(heap, 256, "process heap (global memory) grew")
        self.assertLess(blocks, 20, "process heap blocks grew")
        self.assertLessEqual(threads, 0, "threads were left behind")
        self.assertLessEqual(gdi, 5, "GDI objects grew")


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1] + sys.argv[3:], verbosity=2)
