#!/usr/bin/env python3
"""acquire.exe with the real DorvexTwain.ds through our TWAIN_32.DLL, under Wine and Xvfb,
with the camera simulator on COM1.

Session: the source is listed as "Zelmar Dorvex" with its identity, opens, negotiates,
enables; the camera dialog's Cancel sends MSG_CLOSEDSREQ, which reaches the application and
ends the session cleanly (disable, close).
Road: --auto N takes picture N of the simulator's card by native and by memory transfer; the
saved BMP equals the simulator's JPEG decoded by dorvex-imaging, pixel for pixel.
Interop: the same road as applications written elsewhere walk it - the application's window
on another thread (a console application's console window), no window at all, the source
opened by the Id the manager listed while another source sorts first.

usage: acquire_source_test.py ACQUIRE_EXE HOST_BIN TEST_CLASS
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

# The picture readers and path helper are the end-to-end scenarios' own.
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "scenarios"))
from scenario_support import Simulator, Tools, read_bmp_rgb, read_ppm, reset_profile, windows_path  # noqa: E402

ACQUIRE, HOST_BIN = sys.argv[1], sys.argv[2]
TOOLS = Tools(ACQUIRE, HOST_BIN)
SIM = TOOLS.sim
IMAGING = TOOLS.imaging


class WithSimulator(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="acquire_source_")
        # COM1 at 9600 bit/s without automatic thumbnails, whatever an earlier test left in the
        # prefix's registry, and the picture cache off, so that no test finds what an earlier
        # one fetched.
        reset_profile()
        self.sim = None
        self.start_sim([])

    def start_sim(self, args):
        self.stop_sim()
        self.sim = Simulator(TOOLS, self.work, args)

    def tearDown(self):
        self.stop_sim()
        shutil.rmtree(self.work, ignore_errors=True)

    def stop_sim(self):
        if self.sim:
            self.sim.stop()
            self.sim = None

    def decoded(self, card, position):
        """Picture `position` of a dumped card, decoded by dorvex-imaging."""
        ppm = os.path.join(self.work, "%02d.ppm" % position)
        subprocess.run([IMAGING, "decode", os.path.join(card, "%02d.jpg" % position), ppm], check=True,
                       capture_output=True, timeout=120)
        return read_ppm(ppm)

    def run_acquire(self, args, timeout=120, env=None):
        # Under a Japanese user language the source's texts come in code page 932.
        result = subprocess.run(["wine", ACQUIRE] + args, capture_output=True, timeout=timeout, env=env)
        text = (result.stdout + result.stderr).decode("utf-8", errors="replace")
        return result.returncode, text


class Session(WithSimulator):
    def test_listed_opened_enabled_and_closed_on_the_sources_request(self):
        for mechanism in ("native", "memory"):
            status, text = self.run_acquire(["--auto", "--" + mechanism, "--timeout", "60"])
            self.assertIn("  Zelmar Dorvex (Zelmar Corporation, 1.00J - Nov.1997)", text)
            self.assertIn("Source: Zelmar Dorvex", text)
            self.assertIn("  Manufacturer: Zelmar Corporation", text)
            self.assertIn("  Product family: Digital Still Camera", text)
            self.assertIn('  Version: 2.0 "1.00J - Nov.1997" (language 13, country 1)', text)
            self.assertIn("  Protocol: " + TOOLS.protocol, text)
            self.assertIn("  Supported groups: " + TOOLS.groups, text)
            self.assertIn("Transfer mechanism: " + mechanism, text)
            self.assertIn("CAP_SUPPORTEDCAPS: [CAP_DEVICEONLINE, CAP_UICONTROLLABLE, CAP_XFERCOUNT, ICAP_XFERMECH, "
                          "ICAP_UNITS, ICAP_PHYSICALHEIGHT, ICAP_PHYSICALWIDTH, ICAP_PLANARCHUNKY, ICAP_PIXELFLAVOR, "
                          "ICAP_COMPRESSION, ICAP_BITDEPTH, ICAP_BITORDER, ICAP_PIXELTYPE]", text)
            self.assertIn("ICAP_PIXELTYPE: [2, 2] (current 2, default 2)", text)
            self.assertIn("ICAP_BITDEPTH: 24", text)
            # Both mechanisms listed, the current one marked (0 native, 2 memory).
            current = "2" if mechanism == "memory" else "0"
            self.assertIn("ICAP_XFERMECH: [0, 2] (current %s, default 0)" % current, text)
            self.assertIn("Source enabled", text)
            # Cancel in the camera dialog -> MSG_CLOSEDSREQ -> disable, close: a clean end.
            self.assertLess(text.index("Pressed Cancel"), text.index("MSG_CLOSEDSREQ"))
            self.assertIn("Session closed", text)
            self.assertNotIn("TWAIN failure", text)
            self.assertEqual(status, 0, text)

    def test_runs_that_cannot_do_what_was_asked_say_why_and_fail(self):
        # An --out folder that takes no file is found before any TWAIN work.
        status, text = self.run_acquire(["--auto", "1", "--out", "Z:\\no\\such\\folder\\p.bmp"])
        self.assertIn("cannot write Z:\\no\\such\\folder\\p.bmp", text)
        self.assertNotIn("Sources:", text)
        self.assertEqual(status, 1, text)
        # This camera asks nothing: the act under a question never happens.
        status, text = self.run_acquire(["--auto", "--rude", "destroy-question"])
        self.assertIn("Rude act destroy-question did not happen", text)
        self.assertEqual(status, 5, text)
        # Timed out under the low-battery question: the question's end does not hide it.
        self.start_sim(["--battery", "low"])
        status, text = self.run_acquire(["--auto", "--timeout", "5"])
        self.assertIn("Timed out after 5 s", text)
        self.assertEqual(status, 3, text)
        # Wine's own manager by mistake (a 32-bit application loads TWAIN_32.DLL; a 64-bit one
        # loads the TWAINDSM.DLL beside it, which Wine has none of): named, and its identities
        # printed within their fields.
        if TOOLS.arch != "win32":
            return
        status, text = self.run_acquire(["--auto", "--timeout", "30"], env=dict(os.environ, WINEDLLOVERRIDES="twain_32=b"))
        # Named by its own file, not by ours that was asked for.
        self.assertRegex(text, r"Source Manager: C:\\windows\\system32\\twain_32\.dll \(Wine's own, loaded when "
                               r"\S*TWAIN_32\.DLL was asked for\)")
        listed = re.search(r"\n  GPhoto2 Camera \((.*), (.*)\)\r?\n", text)
        self.assertTrue(listed, text)
        self.assertLessEqual(max(len(listed.group(1)), len(listed.group(2))), 33, text)
        self.assertNotEqual(status, 0, text)


class Road(WithSimulator):
    def test_pictures_by_native_and_memory_transfer_equal_the_decoded_jpegs(self):
        card = os.path.join(self.work, "card")
        subprocess.run([SIM, "--dump-card", card], check=True, capture_output=True, timeout=120)
        # Position 1 is the grid's initial selection; position 4 needs the click on its cell.
        for position, mechanism in ((1, "native"), (1, "memory"), (4, "native")):
            expected = self.decoded(card, position)
            out = os.path.join(self.work, "%s_%d.bmp" % (mechanism, position))
            started = time.time()
            status, text = self.run_acquire(["--auto", str(position), "--" + mechanism, "--out", windows_path(out),
                                             "--answer", "ok", "--timeout", "110"])
            self.assertEqual(status, 0, text)
            self.assertIn('Camera connected: pictures taken "6", power "Full"', text)
            self.assertIn("selecting list position %d" % position, text)
            self.assertIn("MSG_XFERREADY", text)
            self.assertIn("Session closed", text)
            width, height, rgb = read_bmp_rgb(out)
            self.assertEqual((width, height), expected[:2])
            self.assertTrue(rgb == expected[2], "picture %d by %s transfer: pixels differ from the decoded JPEG"
                            % (position, mechanism))
            print("picture %d, %s: %d x %d in %.1f s" % (position, mechanism, width, height, time.time() - started))

    def test_a_picture_below_the_visible_rows_and_around_a_deleted_one(self):
        # 14 pictures: position 14 is in the fifth row, scrolled into view before the click.
        card = os.path.join(self.work, "card14")
        subprocess.run([SIM, "--pictures", "14", "--dump-card", card], check=True, capture_output=True, timeout=120)
        expected = self.decoded(card, 14)
        self.start_sim(["--pictures", "14"])
        out = os.path.join(self.work, "fourteen.bmp")
        status, text = self.run_acquire(["--auto", "14", "--out", windows_path(out), "--timeout", "110"])
        self.assertEqual(status, 0, text)
        width, height, rgb = read_bmp_rgb(out)
        self.assertEqual((width, height), expected[:2])
        self.assertTrue(rgb == expected[2], "picture 14 differs")
        # A deleted picture takes no slot: position 3 is picture 4, and the last slot stays
        # empty - a click there selects nothing, and nothing is acquired in its place.
        card = os.path.join(self.work, "card_deleted")
        subprocess.run([SIM, "--deleted", "3", "--dump-card", card], check=True, capture_output=True, timeout=120)
        expected = self.decoded(card, 4)
        self.start_sim(["--deleted", "3"])
        out = os.path.join(self.work, "after_deleted.bmp")
        status, text = self.run_acquire(["--auto", "3", "--memory", "--out", windows_path(out), "--timeout", "110"])
        self.assertEqual(status, 0, text)
        width, height, rgb = read_bmp_rgb(out)
        self.assertEqual((width, height), expected[:2])
        self.assertTrue(rgb == expected[2], "position 3 after a deleted picture is not picture 4")
        self.start_sim(["--deleted", "3"])
        out = os.path.join(self.work, "empty_slot.bmp")
        status, text = self.run_acquire(["--auto", "6", "--out", windows_path(out), "--timeout", "110"])
        self.assertEqual(status, 2, text)
        self.assertIn("list position 6 cannot be selected", text)
        self.assertNotIn("Pressed Aquire", text)
        self.assertFalse(os.path.exists(out))

    def test_the_driver_finds_the_japanese_dialogs_too(self):
        # Captions differ in the Japanese resources; the driver goes by control ids and the
        # message-box title, which stays "Zelmar Dorvex".
        card = os.path.join(self.work, "card")
        subprocess.run([SIM, "--dump-card", card], check=True, capture_output=True, timeout=120)
        expected = self.decoded(card, 2)
        out = os.path.join(self.work, "ja.bmp")
        env = dict(os.environ, LC_ALL="ja_JP.UTF-8")
        status, text = self.run_acquire(["--auto", "2", "--memory", "--out", windows_path(out), "--timeout", "110"],
                                        env=env)
        self.assertEqual(status, 0, text)
        self.assertIn("selecting list position 2", text)
        # The source's Japanese texts reach a pipe as UTF-8.
        self.assertIn('power "100～50%"', text)
        width, height, rgb = read_bmp_rgb(out)
        self.assertEqual((width, height), expected[:2])
        self.assertTrue(rgb == expected[2], "picture 2 under the Japanese language differs")


class Interop(WithSimulator):
    def sources_with_another_first(self):
        # A folder of sources in which a stand-in sorts before ours ("Alpha" < "Zelmar").
        root = os.path.join(self.work, "twain")
        bin_dir = os.path.dirname(os.path.abspath(ACQUIRE))
        os.makedirs(os.path.join(root, "Alpha"))
        os.makedirs(os.path.join(root, "Zelmar"))
        shutil.copy(os.path.join(bin_dir, "fake_alpha.ds"), os.path.join(root, "Alpha"))
        shutil.copy(os.path.join(bin_dir, "DorvexTwain.ds"), os.path.join(root, "Zelmar"))
        return dict(os.environ, DORVEX_TWAIN_DIR=windows_path(root))

    def test_console_parents_and_open_by_id_by_native_and_memory_transfer(self):
        card = os.path.join(self.work, "card")
        subprocess.run([SIM, "--dump-card", card], check=True, capture_output=True, timeout=120)
        expected = {position: self.decoded(card, position) for position in (1, 2)}
        two_sources = self.sources_with_another_first()
        runs = (
            (["--parent", "thread", "--native"], 1, None),
            (["--parent", "thread", "--memory"], 2, None),
            (["--parent", "none", "--native"], 2, None),
            (["--parent", "none", "--memory"], 1, None),
            (["--open-by", "id", "--native"], 1, two_sources),
            (["--open-by", "id", "--parent", "none", "--memory"], 2, two_sources),
        )
        for args, position, env in runs:
            with self.subTest(args=" ".join(args)):
                self.start_sim([])
                out = os.path.join(self.work, "%s_%d.bmp" % ("_".join(a.strip("-") for a in args), position))
                started = time.time()
                status, text = self.run_acquire(["--auto", str(position), "--out", windows_path(out), "--answer", "ok",
                                                 "--timeout", "110"] + args, env=env)
                self.assertEqual(status, 0, text)
                self.assertIn("Source: Zelmar Dorvex", text)
                self.assertIn("MSG_XFERREADY", text)
                self.assertIn("Session closed", text)
                if env is two_sources:
                    self.assertLess(text.index("  Fake Alpha ("), text.index("  Zelmar Dorvex ("))
                    self.assertRegex(text, r'Opening "Zelmar Dorvex" by its Id [1-9][0-9]*\s')
                width, height, rgb = read_bmp_rgb(out)
                self.assertEqual((width, height), expected[position][:2])
                self.assertTrue(rgb == expected[position][2], "%s: pixels differ from the decoded JPEG" % args)
                print("%s, picture %d: %d x %d in %.1f s" % (" ".join(args), position, width, height,
                                                             time.time() - started))


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1] + sys.argv[3:], verbosity=2)
