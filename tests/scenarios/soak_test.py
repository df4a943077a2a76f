#!/usr/bin/env python3
"""Soak: a seeded run of random rude events - the application destroys its window, disables or
closes the source (also with a manager that unloads it at once), cancels by closing, at random
moments of the listing, a question, the settings dialog, the acquire dialog or a download -
mixed with ordinary acquisitions.

Every event must end without a crash and without a hang beyond the link's time-outs, with the
serial port closed as often as it was opened; every picture that was delivered must equal the
card's JPEG decoded by dorvex-imaging, pixel for pixel.

usage: soak_test.py ACQUIRE_EXE HOST_BIN [--events N] [--seed S]
       (the default of --events comes from DORVEX_SOAK_EVENTS, else 8)
"""
import argparse
import os
import random
import shutil
import sys
import time

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from scenario_support import (Simulator, Tools, decoded_card, new_workdir, read_bmp_rgb, reset_profile,  # noqa: E402
                              run_acquire, windows_path)

CRASH_SIGNS = ("Unhandled page fault", "Unhandled exception", "Backtrace:", "wine: Unhandled")

# (name, acquire arguments, simulator arguments, profile, most timer ticks the act waits)
# A listing at the real byte rate of 9600 bit/s with thumbnails runs a timer tick only between
# two pictures (seconds apart): its act waits at most 3 ticks, so that it lands in the listing
# rather than in a download at that rate, which alone would take minutes.
EVENTS = [
    ("destroy during the listing", ["--auto", "{n}", "--rude", "destroy-listing"], ["--pace"], {"thumbnails": 1}, 3),
    ("destroy under a question", ["--auto", "--rude", "destroy-question"], ["--battery", "low"], {}, 15),
    ("destroy under the settings", ["--auto", "--rude", "destroy-settings"], [], {}, 15),
    ("destroy during a download", ["--auto", "{n}", "--rude", "destroy-download"], ["--pace"], {"baud_rate": 4}, 0),
    ("disable in the acquire dialog", ["--auto", "{n}", "--rude", "disable-subdialog"], [], {}, 15),
    ("close under a question", ["--auto", "--rude", "close-question"], ["--battery", "low"], {}, 15),
    ("close during the listing", ["--auto", "{n}", "--close-during", "listing"], ["--pace"], {"thumbnails": 1}, 0),
    ("close during a download", ["--auto", "{n}", "--close-during", "download"], ["--pace"], {"baud_rate": 4}, 0),
    ("ordinary acquisition", ["--auto", "{n}"], [], {}, 0),
]
# Close-and-unload: the application closes the source from inside its loops and the manager frees
# the library as soon as MSG_CLOSEDS returns (the environment our manager reads for that).
UNLOAD = {"DORVEX_DSM_UNLOAD": "closeds"}
EVENTS += [
    ("close-and-unload during the listing", ["--auto", "{n}", "--rude", "close-listing"], ["--pace"],
     {"thumbnails": 1}, 3, UNLOAD),
    ("close-and-unload under a question", ["--auto", "--rude", "close-question"], ["--battery", "low"], {}, 15, UNLOAD),
    ("close-and-unload under the settings", ["--auto", "--rude", "close-settings"], [], {}, 15, UNLOAD),
    ("close-and-unload during a download", ["--auto", "{n}", "--rude", "close-download"], ["--pace"],
     {"baud_rate": 4}, 0, UNLOAD),
]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("acquire")
    parser.add_argument("host_bin")
    parser.add_argument("--events", type=int, default=int(os.environ.get("DORVEX_SOAK_EVENTS", "8")))
    parser.add_argument("--seed", type=int, default=int(os.environ.get("DORVEX_SOAK_SEED", "12")))
    args = parser.parse_args()
    tools = Tools(args.acquire, args.host_bin)
    work = new_workdir("soak_")
    rng = random.Random(args.seed)
    counts = {"crashes": 0, "hangs": 0, "port": 0, "session": 0, "pictures": 0, "differing": 0}
    problems = []
    started = time.time()
    try:
        expected = decoded_card(tools, work)
        for index in range(args.events):
            name, acquire_args, sim_args, profile, most, *env = EVENTS[rng.randrange(len(EVENTS))]
            number = rng.randint(1, len(expected))
            after = rng.randint(0, most)
            out = os.path.join(work, "event%03d.bmp" % index)
            argv = [a.replace("{n}", str(number)) for a in acquire_args]
            if "--rude" in argv:
                argv += ["--rude-after", str(after)]
            argv += ["--answer", "ok", "--out", windows_path(out)]
            reset_profile(**profile)
            sim = Simulator(tools, work, sim_args, name="event%03d" % index)
            try:
                os.environ.update(env[0] if env else {})
                try:
                    run = run_acquire(tools, work, argv, 120, name="event%03d" % index)
                finally:
                    for key in (env[0] if env else {}):
                        del os.environ[key]
                # The simulator sees the port close once Wine lets go of the descriptor, which
                # may come a moment after the process ended: a bounded wait, not a hang.
                deadline = time.time() + 30
                while time.time() < deadline:
                    trace = sim.trace()
                    if trace.count("port open") == trace.count("port close"):
                        break
                    time.sleep(0.1)
            finally:
                sim.stop()
            trace = sim.trace()
            label = "event %d (%s, picture %d, after %d ticks)" % (index, name, number, after)
            if run.status is None:
                counts["hangs"] += 1
                problems.append(label + ": hung")
                continue
            if any(sign in run.output for sign in CRASH_SIGNS):
                counts["crashes"] += 1
                problems.append(label + ": crashed\n" + run.output[-1500:])
                continue
            if trace.count("port open") != trace.count("port close"):
                counts["port"] += 1
                problems.append(label + ": port left open")
            if "Session closed" not in run.output or "TWAIN failure" in run.output or "Timed out" in run.output:
                counts["session"] += 1
                problems.append(label + ": session did not end cleanly\n" + run.output[-1500:])
            if "Saved" in run.output:
                counts["pictures"] += 1
                if read_bmp_rgb(out) != expected[number]:
                    counts["differing"] += 1
                    problems.append(label + ": the picture differs from the decoded JPEG")
            print("%s: status %s, %.1f s" % (label, run.status, run.seconds), flush=True)
    finally:
        reset_profile()
        shutil.rmtree(work, ignore_errors=True)
    print("soak: %d events (seed %d) in %.0f s: %d crashes, %d hangs, %d ports left open, %d unclean ends, "
          "%d pictures delivered, %d differing" % (args.events, args.seed, time.time() - started, counts["crashes"],
                                                    counts["hangs"], counts["port"], counts["session"],
                                                    counts["pictures"], counts["differing"]))
    for problem in problems:
        print("PROBLEM: " + problem)
    return 0 if not problems else 1


if __name__ == "__main__":
    sys.exit(main())
