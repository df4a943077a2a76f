#!/usr/bin/env python3
"""End-to-end scenarios of an impolite application: acquire.exe destroys its main window, disables
or closes the source, or exits, while one of the source's loops runs (listing, a question, the
settings dialog, the acquire dialog). Each run must end without a crash or a hang, with the port
released (the next session connects), and, where the session survives, in the state the
application expects (disable and close succeed, a new enable succeeds).

usage: rude_test.py ACQUIRE_EXE HOST_BIN [TEST_NAME...]   (Rude: the acts; SlowStop: the stops)
"""
import os
import re
import subprocess
import sys
import unittest

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from scenario_support import PROFILE, ScenarioCase, Tools, reset_profile  # noqa: E402

TOOLS = Tools(sys.argv[1], sys.argv[2])

# What Wine prints when a program faults; the exit status alone can look like an ordinary one.
CRASH_SIGNS = ("Unhandled page fault", "Unhandled exception", "Backtrace:", "wine: Unhandled")


def profile_written():
    """The source's own values are in the profile (the tests' reset leaves only Cache there)."""
    result = subprocess.run(["wine", "reg", "query", PROFILE, "/v", "BaudRate"], stdin=subprocess.DEVNULL,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
    return result.returncode == 0


class RudeCase(ScenarioCase):
    """What every impolite run checks: no crash, a clean end, the port given back."""
    TOOLS = TOOLS
    WORK_PREFIX = "rude_"

    def tearDown(self):
        super().tearDown()
        reset_profile()

    def acquire(self, *args, timeout=90, name="acquire"):
        run = super().acquire(*args, timeout=timeout, name=name)
        for sign in CRASH_SIGNS:
            self.assertNotIn(sign, run.output, "acquire.exe crashed:\n" + run.output[-4000:])
        return run

    def assertSurvived(self, run, sim, status=2):
        """No crash, the session disabled and closed without a failure, the port closed as
        often as it was opened."""
        self.assertEqual(run.status, status, run.output)
        self.assertIn("Session closed", run.output, run.output)
        self.assertNotIn("TWAIN failure", run.output, run.output)
        self.assertNotIn("Timed out", run.output, run.output)
        sim.stop()
        trace = sim.trace()
        self.assertEqual(trace.count("port open"), trace.count("port close"), trace[-2000:])
        return trace

    def assertNextSessionConnects(self):
        reset_profile()
        sim = self.simulator(name="next")
        run = self.acquire("--auto", name="next")
        self.assertIn('Camera connected: pictures taken "6"', run.output)
        self.assertEqual(run.status, 0, run.output)
        self.assertSurvived(run, sim, status=0)


class Rude(RudeCase):
    """The acts inside each of the source's loops."""

    def test_destroy_main_window_while_listing(self):
        # Thumbnails on and the real byte rate: the listing takes seconds, long enough to act in.
        reset_profile(thumbnails=1)
        sim = self.simulator("--pace", name="listing")
        run = self.acquire("--auto", "6", "--rude", "destroy-listing", "--answer", "ok", name="listing")
        self.assertIn("Rude act during the listing", run.output)
        self.assertIn("Main window destroyed", run.output)
        trace = self.assertSurvived(run, sim)
        self.assertIn("GetImgInfo", trace)
        self.assertNotIn("GetJpeg", trace)
        self.assertNotIn("MSG_XFERREADY", run.output)
        # The camera was put back to 9600 bit/s before the port closed.
        self.assertEqual(re.findall(r"rx cmd SetIO rate=(\d+)", trace)[-1], "9600")
        self.assertNextSessionConnects()

    def test_destroy_main_window_under_a_question(self):
        sim = self.simulator("--battery", "low", name="question")
        run = self.acquire("--auto", "--rude", "destroy-question", name="question")
        self.assertEqual(run.boxes(), [3101], run.output)
        self.assertIn("Main window destroyed", run.output)
        # Destroyed under the box: nobody is asked to close anything afterwards.
        self.assertNotIn("MSG_CLOSEDSREQ", run.output)
        self.assertSurvived(run, sim)
        self.assertNextSessionConnects()

    def test_destroy_main_window_under_the_settings_dialog(self):
        sim = self.simulator(name="settings")
        run = self.acquire("--auto", "--rude", "destroy-settings", name="settings")
        self.assertIn("Rude act during the settings dialog", run.output)
        self.assertIn("Main window destroyed", run.output)
        trace = self.assertSurvived(run, sim)
        self.assertNotIn("SetDate", trace)
        self.assertNextSessionConnects()

    def test_destroy_main_window_during_a_download(self):
        # 115200 bit/s, paced: the download takes seconds; the source holds the thread until it
        # ends, so the window goes at the application's first chance, with the transfer ready.
        reset_profile(baud_rate=4)
        sim = self.simulator("--pace", name="download")
        run = self.acquire("--auto", "6", "--rude", "destroy-download", "--answer", "ok", name="download")
        self.assertIn("Main window destroyed", run.output)
        self.assertNotIn("Saved", run.output)
        trace = self.assertSurvived(run, sim)
        self.assertIn("tx data GetJpeg", trace)
        self.assertNextSessionConnects()

    def test_disable_with_the_acquire_dialog_open_then_press_aquire(self):
        sim = self.simulator(name="disable")
        run = self.acquire("--auto", "1", "--rude", "disable-subdialog", "--answer", "ok", name="disable")
        self.assertIn("MSG_DISABLEDS with the acquire dialog open: done", run.output)
        # The disable hid the camera dialog and ended the acquire dialog it owns.
        self.assertIn("Source windows shown after MSG_DISABLEDS: 0", run.output)
        # The acquire dialog ended with the disable: no download, no transfer offered, and the
        # source is in state 4, where a new enable is welcome.
        self.assertIn("MSG_ENABLEDS after the disable: done", run.output, run.output)
        self.assertNotIn("MSG_XFERREADY", run.output)
        trace = self.assertSurvived(run, sim)
        self.assertNotIn("GetJpeg", trace)
        self.assertNextSessionConnects()

    def test_close_under_a_question(self):
        sim = self.simulator("--battery", "low", name="close")
        run = self.acquire("--auto", "--rude", "close-question", name="close")
        self.assertEqual(run.boxes(), [3101], run.output)
        self.assertIn("MSG_CLOSEDS during the source's loop", run.output)
        # The disable ended the question along with the dialog: nothing of the source is left
        # on screen for the user to answer.
        self.assertIn("Source windows shown after MSG_DISABLEDS: 0", run.output)
        self.assertNotIn("MSG_CLOSEDSREQ", run.output)
        self.assertSurvived(run, sim)
        self.assertNextSessionConnects()

    def test_close_under_a_question_through_a_manager_that_allows_it(self):
        # The close reaches the source inside the call that runs its question.
        sim = self.simulator("--battery", "low", name="nested")
        os.environ["DORVEX_DSM_NESTED_CLOSE"] = "1"
        try:
            run = self.acquire("--auto", "--rude", "close-question", name="nested")
        finally:
            del os.environ["DORVEX_DSM_NESTED_CLOSE"]
        self.assertEqual(run.boxes(), [3101], run.output)
        self.assertIn("MSG_CLOSEDS during the source's loop: done", run.output)
        self.assertIn("Source windows shown after MSG_CLOSEDS: 0", run.output)
        self.assertNotIn("MSG_CLOSEDSREQ", run.output)
        self.assertSurvived(run, sim)
        self.assertNextSessionConnects()

    def test_exit_with_the_source_enabled_does_no_serial_or_registry_work(self):
        sim = self.simulator(name="exit")
        run = self.acquire("--auto", "--rude", "exit-open", name="exit")
        self.assertIn("Exiting with the source enabled", run.output)
        self.assertEqual(run.status, 2, run.output)
        sim.stop()
        trace = sim.trace()
        # Connected once at 9600 bit/s; nothing was sent while the process ended.
        self.assertEqual(re.findall(r"rx cmd SetIO rate=(\d+)", trace), ["9600"], trace[-2000:])
        self.assertFalse(profile_written(), "the profile was written while the process ended")
        self.assertNextSessionConnects()

    def test_exit_while_listing_ends_at_once_without_serial_or_registry_work(self):
        # The listing reads the camera on a thread of the source's own, busy on the line when the
        # process ends: the end must not wait for it nor talk to the camera.
        reset_profile(thumbnails=1)
        sim = self.simulator("--pace", name="exit-listing")
        run = self.acquire("--auto", "6", "--rude", "exit-listing", name="exit-listing")
        self.assertIn("Exiting while the source lists", run.output)
        self.assertEqual(run.status, 2, run.output)
        sim.stop()
        trace = sim.trace()
        self.assertIn("GetImgInfo", trace)
        after_listing = trace[trace.index("rx cmd GetImgInfo"):]
        self.assertNotIn("rx cmd SetIO", after_listing, after_listing[-2000:])
        self.assertFalse(profile_written(), "the profile was written while the process ended")
        self.assertNextSessionConnects()

    def test_close_and_unload_from_inside_the_source_loops(self):
        # A manager that frees the library as soon as MSG_CLOSEDS returns (as the Working
        # Group's does) while the source's listing, download, question or settings dialog is on
        # the stack. Two sessions in one process: the second loads the source again.
        moments = [
            ("listing", ["--pace"], {"thumbnails": 1}, ["--auto", "6", "--rude", "close-listing", "--answer", "ok"]),
            ("download", ["--pace"], {"baud_rate": 4}, ["--auto", "6", "--rude", "close-download", "--answer", "ok"]),
            ("question", ["--battery", "low"], {}, ["--auto", "--rude", "close-question"]),
            ("settings", [], {}, ["--auto", "--rude", "close-settings"]),
        ]
        os.environ["DORVEX_DSM_UNLOAD"] = "closeds"
        try:
            for moment, sim_args, profile, args in moments:
                with self.subTest(moment):
                    reset_profile(**profile)
                    sim = self.simulator(*sim_args, name="unload-" + moment)
                    run = self.acquire(*args, "--cycles", "2", name="unload-" + moment)
                    self.assertEqual(run.output.count("MSG_CLOSEDS during the source's loop: done"), 2, run.output)
                    self.assertIn("Cycle 2: exit status 2", run.output)
                    self.assertNotIn("TWAIN failure", run.output, run.output)
                    self.assertNotIn("Saved", run.output)
                    sim.stop()
                    trace = sim.trace()
                    # Each session put the camera back to 9600 bit/s and let the port go.
                    self.assertEqual(trace.count("port open"), 2, trace[-2000:])
                    self.assertEqual(trace.count("port close"), 2, trace[-2000:])
                    self.assertEqual(re.findall(r"rx cmd SetIO rate=(\d+)", trace)[-1], "9600")
        finally:
            del os.environ["DORVEX_DSM_UNLOAD"]
        self.assertNextSessionConnects()

    def test_manager_frees_the_enabled_source_before_disabling_and_closing_it(self):
        # A manager that frees the library of the enabled source and then sends MSG_DISABLEDS
        # and MSG_CLOSEDS through the entry point it had: the close returns into code that only
        # the source's own reference still maps. Twice in one process: the second session loads
        # the source again and opens it.
        sim = self.simulator(name="free-first")
        os.environ["DORVEX_DSM_UNLOAD"] = "freefirst"
        try:
            run = self.acquire("--auto", "--cycles", "2", name="free-first")
        finally:
            del os.environ["DORVEX_DSM_UNLOAD"]
        self.assertIn("Cycles completed: 2 of 2", run.output)
        self.assertEqual(run.output.count('Camera connected: pictures taken "6"'), 2, run.output)
        trace = self.assertSurvived(run, sim, status=0)
        self.assertEqual(trace.count("port close"), 2, trace[-2000:])

    def test_manager_unloads_the_enabled_source_from_another_thread(self):
        # MSG_CLOSEDSM with the source enabled, from another thread of the application, to a
        # manager that unloads the sources left open: no camera or registry work under that
        # thread's loader lock, and the source's windows, repainted by the application's thread
        # afterwards, still have their code.
        sim = self.simulator(name="unload-enabled")
        os.environ["DORVEX_DSM_UNLOAD"] = "closedsm"
        try:
            run = self.acquire("--auto", "--rude", "unload-enabled", name="unload-enabled")
        finally:
            del os.environ["DORVEX_DSM_UNLOAD"]
        self.assertIn("MSG_CLOSEDSM from another thread with the source enabled: done", run.output)
        self.assertRegex(run.output, r"Repainted [1-9]\d* windows after the unload", run.output)
        self.assertEqual(run.status, 2, run.output)
        sim.stop()
        trace = sim.trace()
        self.assertEqual(re.findall(r"rx cmd SetIO rate=(\d+)", trace), ["9600"], trace[-2000:])
        self.assertFalse(profile_written(), "the profile was written while the library was unloaded")
        self.assertNextSessionConnects()

    def test_new_rate_kept_when_only_the_clock_fails(self):
        # The camera takes the new rate; every answer to SetDate is spoilt, so the clock fails.
        sim = self.simulator("--frozen-clock", "--corrupt", "1000", "--fault-cmd", "SetDate", name="clock")
        run = self.acquire("--auto", "--set-rate", "4", "--clock-from-pc", "--answer", "ok", name="clock")
        self.assertIn("Pressed OK in the settings", run.output)
        self.assertTrue(set(run.boxes()) & {3004, 3005}, run.output)
        sim.stop()
        trace = sim.trace()
        self.assertIn("SetIO rate=115200", trace)
        self.assertIn("rx cmd SetDate", trace)
        # The profile keeps the rate the camera was moved to.
        query = subprocess.run(["wine", "reg", "query", PROFILE, "/v", "BaudRate"], stdin=subprocess.DEVNULL,
                               capture_output=True, text=True, timeout=60)
        self.assertRegex(query.stdout, r"BaudRate\s+REG_DWORD\s+0x4", query.stdout)
        # Whether or not the camera was put back to 9600 on the way out, the next session finds it.
        sim = self.simulator("--rate", "115200", name="after")
        run = self.acquire("--auto", "--answer", "no", name="after")
        self.assertEqual(run.boxes(), [], run.output)
        self.assertIn('Camera connected: pictures taken "6"', run.output)
        self.assertSurvived(run, sim, status=0)


class SlowStop(RudeCase):
    """Stops of a listing whose exchange outlasts the stop's grace (each waits out the grace,
    so they run as a test of their own beside the other acts)."""

    def slow_thumbnail_card(self):
        """Three small pictures; the first one's thumbnail is 40 KB: some 40 s on the line at
        9600 bit/s, longer than the 30 s a stopped listing lets an exchange run."""
        card = os.path.join(self.work, "slow-card")
        os.makedirs(card)
        for n in (1, 2, 3):
            subprocess.run(["convert", "-size", "64x48", "xc:gray60", "-quality", "80",
                            os.path.join(card, "%02d.jpg" % n)], check=True, timeout=60)
        with open(os.path.join(card, "01.thm"), "wb") as f:
            f.write(b"\xff\xd8" + b"noise\n" * (40000 // 6))
        return card

    def stop_listing(self, act, name):
        """The act two seconds into the slow thumbnail; the application's thread must answer
        another thread's messages throughout the stop, which ends the exchange."""
        reset_profile(thumbnails=1)
        sim = self.simulator("--pace", "--trace-time", "--card", self.slow_thumbnail_card(), name=name)
        run = self.acquire("--auto", "2", "--rude", act, "--rude-after", "20", "--answer", "ok", timeout=180,
                           name=name)
        self.assertIn("Rude act during the listing", run.output)
        longest = re.search(r"Longest wait for the thread to answer: (\d+) ms \((\d+) ms after", run.output)
        self.assertIsNotNone(longest, run.output)
        print("%s: longest wait for an answer %s ms (%s ms after the act), run %.0f s" %
              (act, longest.group(1), longest.group(2), run.seconds), file=sys.stderr)
        self.assertNotIn("MSG_XFERREADY", run.output)
        trace = self.assertSurvived(run, sim)
        self.assertLess(int(longest.group(1)), 1000, run.output + trace[-3000:])
        self.assertIn("GetThumb", trace)
        self.assertNotIn("GetJpeg", trace)
        self.assertNextSessionConnects()
        return run

    def test_destroy_main_window_during_a_slow_thumbnail(self):
        run = self.stop_listing("destroy-listing", "destroy-slow")
        self.assertIn("Main window destroyed", run.output)

    def test_disable_during_a_slow_thumbnail_then_enable(self):
        run = self.stop_listing("disable-listing", "disable-slow")
        self.assertIn("MSG_DISABLEDS during the listing: done", run.output)
        # Enabled again while the stop still ran: the new camera dialog connects once the old
        # one has let the port go.
        self.assertIn("MSG_ENABLEDS after the disable: done", run.output)
        self.assertIn("Connected again after the enable", run.output)

    def test_close_during_a_slow_thumbnail(self):
        os.environ["DORVEX_DSM_NESTED_CLOSE"] = "1"
        try:
            run = self.stop_listing("close-listing", "close-slow")
        finally:
            del os.environ["DORVEX_DSM_NESTED_CLOSE"]
        self.assertIn("MSG_CLOSEDS during the source's loop: done", run.output)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1] + sys.argv[3:], verbosity=2)
