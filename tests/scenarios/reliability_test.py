#!/usr/bin/env python3
"""Reliability on a bad line: acquisitions of the default card's pictures while the simulator
corrupts 1 % of its blocks, repeats 1 % of them and now and then goes silent for good in the
middle of a session.

Every picture that reaches the application must equal the card's JPEG decoded by
dorvex-imaging; every failure must be one of the source's own messages, found and answered;
every session must end (no hang) and end cleanly. The counts are printed at the end.

Sessions run `acquire.exe --auto all` (every picture of the card, one Open each) against a new
simulator with its own seed, alternating native and memory transfers, until the wanted number
of acquisitions is reached. An acquisition is one Open: listing, selection, download, transfer;
a session ends at the first failed one (the source reports it and asks to be closed).
DORVEX_RELIABILITY_ACQUISITIONS sets that number: 40 by default, a slice that meets each kind
of session (silent camera, burst, plain noise) twice; ./run soak runs 200 by default.

usage: reliability_test.py ACQUIRE_EXE HOST_BIN
"""
import collections
import os
import re
import shutil
import sys
import time
import unittest

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from scenario_support import (MESSAGES, Simulator, Tools, decoded_card, new_workdir, read_bmp_rgb,  # noqa: E402
                              reset_profile, run_acquire, windows_path)

TOOLS = Tools(sys.argv[1], sys.argv[2])
WANTED = int(os.environ.get("DORVEX_RELIABILITY_ACQUISITIONS", "40"))
# Failures the source may report on a bad line: the line failed (3005), the camera refused or a
# transfer broke without a line error (3003), the picture did not decode (3001), or the camera
# did not answer when connecting (3100, answered No) or reconnecting (3002).
ALLOWED = {3001, 3002, 3003, 3005, 3100}
SESSION_TIMEOUT = 240


def fault_args(seed):
    args = ["--corrupt-rate", "1%", "--repeat-rate", "1%", "--seed", str(seed)]
    # One session in four the camera stops answering for good: after one of the downloads, or
    # after one of the picture information blocks of a listing.
    if seed % 4 == 0:
        command = ("GetJpeg", "GetImgInfo")[seed // 4 % 2]
        args += ["--silent-after", "%s:%d" % (command, 1 + seed // 8 % 6)]
    # One in four the line breaks down for a while in the middle of a download: a burst of
    # corrupted blocks longer than the link's retries.
    if seed % 4 == 2:
        args += ["--fault-cmd", "GetJpeg", "--corrupt", "40", "--fault-after", str(seed * 7 % 60)]
    return args


class Reliability(unittest.TestCase):
    def setUp(self):
        self.work = new_workdir("reliability_")
        reset_profile()

    def tearDown(self):
        shutil.rmtree(self.work, ignore_errors=True)

    def test_acquisitions_on_a_line_with_faults(self):
        expected = decoded_card(TOOLS, self.work)
        attempts = successes = sessions = 0
        failures = collections.Counter()
        faults = collections.Counter()
        stage = collections.Counter()
        longest = 0.0
        started = time.time()
        seed = 0
        while attempts < WANTED:
            seed += 1
            self.assertLess(seed, 4 * WANTED, "too few acquisitions reached Aquire")
            mechanism = ("native", "memory")[seed % 2]
            out = os.path.join(self.work, "s%03d.bmp" % seed)
            sim = Simulator(TOOLS, self.work, fault_args(seed), name="sim%03d" % seed)
            try:
                run = run_acquire(TOOLS, self.work, ["--auto", "all", "--" + mechanism, "--out", windows_path(out),
                                                     "--answer", "ok,no"], SESSION_TIMEOUT, "acquire%03d" % seed)
            finally:
                sim.stop()
            sessions += 1
            longest = max(longest, run.seconds)
            context = "session %d (seed %d, %s):\n%s" % (sessions, seed, mechanism, run.output[-3000:])
            self.assertIsNotNone(run.status, "hang in " + context)
            self.assertNotEqual(run.status, 3, "timed out in " + context)
            self.assertIn("Session closed", run.output, context)
            self.assertNotIn("TWAIN failure", run.output, context)
            boxes = run.boxes()
            for box in boxes:
                self.assertIn(box, ALLOWED, "unexpected message in " + context)
                failures[box] += 1
            saved = re.findall(r"^Saved .* to (.*-(\d\d)\.bmp)\s*$", run.output, re.M)
            for path, number in saved:
                local = path[2:].replace("\\", "/") if path.startswith("Z:") else path
                got = read_bmp_rgb(local)
                self.assertTrue(got == expected[int(number)],
                                "picture %s differs from the card's in %s" % (number, context))
                os.unlink(local)
            complete = "All %d pictures taken" % len(expected) in run.output
            opened = run.output.count("Pressed Open")
            # A session that stopped short said why, once, and the acquisition it stopped in is
            # the only one without a picture.
            self.assertTrue(complete or boxes, "session ended without all pictures and without a message: " +
                            context)
            self.assertEqual(len(saved), opened if complete else opened - 1, context)
            self.assertEqual(run.status, 0 if complete else 2, context)
            attempts += opened
            successes += len(saved)
            if not complete:
                in_listing = "Pressed Aquire" not in run.output.split("Pressed Open")[-1]
                stage["listing" if in_listing else "download"] += 1
            with open(sim.trace_path, errors="replace") as f:
                trace = f.read()
            for kind in ("corrupt", "repeat"):
                faults[kind] += len(re.findall(r"^fault %s" % kind, trace, re.M))
            faults["silent"] += trace.count("fault silent")
        seconds = time.time() - started
        print("Reliability: %d acquisitions in %d sessions, %.0f s (longest session %.1f s)" %
              (attempts, sessions, seconds, longest))
        print("  pictures received: %d, all identical to the card's" % successes)
        print("  failures: %d acquisitions ended without a picture (%d while listing, %d in the download "
              "or transfer)" % (attempts - successes, stage["listing"], stage["download"]))
        for number, count in sorted(failures.items()):
            print("  message %d \"%s\": %d" % (number, " ".join(MESSAGES[number].split()), count))
        print("  faults injected: %d corrupted blocks, %d repeated blocks, %d silences" %
              (faults["corrupt"], faults["repeat"], faults["silent"]))
        self.assertGreater(successes, 0)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1] + sys.argv[3:], verbosity=2)
