"""The simulator as a process: pty path on the first line, --pty-file and --link, sessions
counted from the first ENQ to the client's close, clean exit on SIGTERM/SIGINT, a client that
closes in the middle of a download, and command-line errors."""
import os
import signal
import subprocess
import termios
import time

import simtest
from sim_client import Client, SimProcess, request_bytes, wait_until, word


class Sessions(simtest.SimTestCase):
    def test_sessions_end_on_close_and_the_last_one_ends_the_run(self):
        pty_file = os.path.join(self.tmp, "pty.txt")
        link = os.path.join(self.tmp, "com1")
        os.symlink("/dev/null", link)  # an old mapping is replaced
        sim = self.start("--sessions", "2", "--pty-file", pty_file, "--link", link)
        with open(pty_file) as f:
            self.assertEqual(f.read(), sim.path + "\n")
        self.assertEqual(os.readlink(link), sim.path)
        # Opening and closing without a word is not a session.
        os.close(os.open(link, os.O_RDWR | os.O_NOCTTY))
        for expected, rate, next_rate in ((1, 9600, 57600), (2, 57600, 9600)):
            with Client(link, rate=rate) as c:
                self.assertEqual(word(c.get_io_cap(), 2), 0)
                self.assertEqual(word(c.set_io(next_rate), 2), 0)
            if expected == 1:
                self.assertTrue(wait_until(lambda: "session end 1" in sim.trace()))
                self.assertIsNone(sim.proc.poll())
        self.assertEqual(sim.proc.wait(10), 0)
        self.assertEqual(sim.proc.stdout.read().decode().splitlines(),
                         ["session 1 begin", "session 1 end", "session 2 begin", "session 2 end"])
        self.assertEqual(self.trace_lines(sim, "session"), ["session begin 1", "session end 1",
                                                            "session begin 2", "session end 2"])
        self.assertFalse(os.path.lexists(link))
        self.assertFalse(os.path.exists(pty_file))

    def test_camera_keeps_its_rate_across_sessions(self):
        sim = self.start()
        with Client(sim.path) as c:
            c.set_io(38400)
        with Client(sim.path, rate=38400) as c:
            self.assertEqual(word(c.get_io_cap(), 6), 0x80)

    def test_client_closing_during_a_download(self):
        sim = self.start("--ack-timeout", "20000")
        c = Client(sim.path)
        handle = word(c.get_img_info(1)[1], 4)

        class Gone(Exception):
            pass

        def close_after_two_blocks(count):
            if count >= 2 * 4096:
                raise Gone()
            return False

        with self.assertRaises(Gone):
            c.get_jpeg(handle, on_packet=close_after_two_blocks)
        c.close()
        self.assertTrue(wait_until(lambda: "session end 1" in sim.trace(), 3))
        with Client(sim.path) as again:
            start = time.monotonic()
            self.assertEqual(word(again.get_io_cap(), 2), 0)
            # Served at once, not after the camera's 20 s wait for the lost client's ACK.
            self.assertLess(time.monotonic() - start, 10)

    def test_signals_end_the_run_cleanly(self):
        for sig in (signal.SIGTERM, signal.SIGINT):
            link = os.path.join(self.tmp, "link%d" % sig)
            sim = SimProcess(simtest.SIM, "--link", link, "--quiet", trace=os.path.join(self.tmp, "t%d" % sig))
            with Client(sim.path) as c:
                c.get_io_cap()
                sim.proc.send_signal(sig)
                self.assertEqual(sim.proc.wait(5), 0)
            self.assertEqual(sim.proc.stdout.read(), b"")  # --quiet: nothing after the pty line
            sim.stop()
            self.assertFalse(os.path.lexists(link))
            self.assertEqual(sim.trace()[-1], "stop")

    def test_device_mode_follows_the_rate_on_the_tty(self):
        # A pty pair stands in for a cable: the simulator gets the slave as its "device",
        # the client talks on the master, whose termios are the slave's.
        master, slave = os.openpty()
        device = os.ttyname(slave)
        os.close(slave)
        proc = subprocess.Popen([simtest.SIM, "--device", device, "--quiet",
                                 "--trace", os.path.join(self.tmp, "dev.txt")], stdout=subprocess.PIPE)
        try:
            self.assertEqual(proc.stdout.readline().decode().strip(), "device: " + device)
            c = Client.__new__(Client)
            c.fd, c.buffer, c.naks_sent, c.repeats_seen, c.extra_enqs_seen = master, bytearray(), 0, 0, 0
            c.rate = 9600
            self.assertEqual(word(c.get_io_cap(), 2), 0)
            # The client leaves the speed alone: the simulator itself retunes the tty.
            self.assertEqual(word(c.transact(request_bytes(0x9080, 0x100, 0x11))[1], 2), 0)
            self.assertTrue(wait_until(lambda: termios.tcgetattr(master)[5] == termios.B57600))
            self.assertEqual(word(c.get_io_cap(), 6), 0x100)
        finally:
            proc.terminate()
            self.assertEqual(proc.wait(10), 0)
            proc.stdout.close()
            os.close(master)

    def test_link_never_replaces_a_real_file(self):
        path = os.path.join(self.tmp, "file")
        with open(path, "w") as f:
            f.write("keep")
        result = subprocess.run([simtest.SIM, "--link", path], capture_output=True, timeout=20)
        self.assertEqual(result.returncode, 1)
        self.assertIn(b"not a symlink", result.stderr)
        with open(path) as f:
            self.assertEqual(f.read(), "keep")

    def test_command_line_errors_and_help(self):
        for args in (["--rate", "1234"], ["--corrupt-rate", "2"], ["--clock", "2001-02-30T00:00:00"],
                     ["--deleted", "x"], ["--bogus"], ["--trace"], ["--refuse-cancel", "1:maybe"],
                     ["--block-size", "0"], ["--short-status", "GetStatus:2"], ["--short-status", "GetStat:x"],
                     ["--short-status", "GetStat:-1"], ["--short-status", ":2"], ["--fault-cmd", "GetJepg"],
                     ["--silent-after", "GetJpg:3"], ["--garbage-status", "Status"], ["--silent-after", "GetJpeg:0"],
                     ["--trickle", "Jpeg"], ["--trickle-gap", "0"], ["--endless-blocks", "any"], ["--noise-flood", ""]):
            result = subprocess.run([simtest.SIM] + args, capture_output=True, timeout=20)
            self.assertEqual(result.returncode, 2, args)
            self.assertIn(b"dorvex-sim:", result.stderr)
        # An unknown option is called unknown, last or not; command names pass every option.
        for args in (["--bogus"], ["--bogus", "--pace"]):
            result = subprocess.run([simtest.SIM] + args, capture_output=True, timeout=20)
            self.assertIn(b"unknown option --bogus", result.stderr, args)
        subprocess.run([simtest.SIM, "--fault-cmd", "CancelTransfer", "--silent-after", "any:2", "--garbage-status",
                        "GetStat", "--dump-card", self.tmp], check=True, capture_output=True, timeout=60)
        help_text = subprocess.run([simtest.SIM, "--help"], capture_output=True, check=True).stdout.decode()
        for option in ("--device", "--pty-file", "--link", "--sessions", "--rate", "--power", "--battery",
                       "--no-card", "--card", "--pictures", "--deleted", "--no-thumb", "--mark", "--no-size",
                       "--clock", "--frozen-clock", "--dump-card", "--block-size", "--ack-timeout", "--pace",
                       "--corrupt", "--corrupt-rate", "--repeat", "--extra-enq", "--drop", "--fault-cmd",
                       "--fault-after", "--seed", "--busy", "--silent-after", "--refuse-cancel", "--short-status", "--trace",
                       "--trace-time", "--trace-full-hex", "--quiet", "--endless-blocks", "--noise-flood", "--trickle",
                       "--trickle-gap"):
            self.assertIn("\n  " + option + " ", help_text.replace("  " + option + "\n", "  " + option + " \n"))
        self.assertIn("Trace lines", help_text)


if __name__ == "__main__":
    simtest.main()
