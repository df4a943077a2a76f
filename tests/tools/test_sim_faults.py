"""Fault injection as the source's receiver sees it: corrupted checksums answered with NAK and
resent, four bad receptions failing the exchange, repeated blocks not doubling the data, extra
ENQ, dropped bytes, silence after a command, cancel accepted and refused, and pacing."""
import os
import subprocess
import time

import simtest
from sim_client import ACK, ENQ, EOT, NAK, Client, LinkFailure, encode_packet, request_bytes, word


class Faults(simtest.SimTestCase):
    def card_file(self, number):
        out = os.path.join(self.tmp, "card")
        if not os.path.isdir(out):
            subprocess.run([simtest.SIM, "--dump-card", out], check=True)
        with open(os.path.join(out, "%02d.jpg" % number), "rb") as f:
            return f.read()

    def connect(self, c):
        c.set_io(115200)
        _, status = c.get_img_info(1)
        return word(status, 4)

    def test_bad_request_packet_gets_nak_and_the_resend_is_served(self):
        sim = self.start()
        with Client(sim.path) as c:
            good = encode_packet(request_bytes(0x9020, 0))
            bad = bytearray(good)
            bad[-1] ^= 0x01
            c.write((ENQ,))
            self.assertEqual(c.read_byte(), ACK)
            c.write(bad)
            self.assertEqual(c.read_byte(), NAK)
            c.write(b"\x00" + good)  # a stray byte before STX is passed over
            self.assertEqual(c.read_byte(), ACK)
            c.write(good)  # as if our ACK had been lost: the same packet again instead of EOT
            self.assertEqual(c.read_byte(), ACK)
            c.write((EOT,))
            status = c.receive_message()
            self.assertEqual((word(status, 0), word(status, 2), len(status)), (0x9020, 0, 39))
        trace = sim.trace()
        self.assertEqual(len(self.trace_lines(sim, "rx bad-packet len=6")), 1)
        self.assertEqual(self.trace_lines(sim, "rx cmd"), ["rx cmd GetStat param=0"])
        self.assertIn("rx byte 0x00", trace)

    def test_corrupt_block_is_resent_after_nak(self):
        sim = self.start("--corrupt", "2", "--fault-cmd", "GetJpeg")
        with Client(sim.path) as c:
            data, status = c.get_jpeg(self.connect(c))
            self.assertEqual(data, self.card_file(1))
            self.assertEqual(word(status, 2), 0)
            self.assertEqual(c.naks_sent, 2)
        self.assertEqual(self.trace_lines(sim, "fault corrupt block 1/"), ["fault corrupt block 1/51 msg=GetJpeg.data"] * 2)
        self.assertEqual(len(self.trace_lines(sim, "rx nak")), 2)

    def test_four_bad_checksums_fail_then_the_camera_serves_again(self):
        sim = self.start("--corrupt", "4", "--fault-cmd", "GetIOCap")
        with Client(sim.path) as c:
            with self.assertRaises(LinkFailure) as failure:
                c.get_io_cap()
            self.assertFalse(failure.exception.timeout)
            self.assertEqual(c.naks_sent, 4)
            self.assertEqual(word(c.get_io_cap(), 2), 0)
        self.assertIn("abort nak-limit block 1/1 msg=GetIOCap.status", sim.trace())

    def test_fault_after_skips_transmissions(self):
        sim = self.start("--corrupt", "1", "--fault-after", "3", "--fault-cmd", "GetJpeg", "--block-size", "8192")
        with Client(sim.path) as c:
            c.get_jpeg(self.connect(c))
        self.assertEqual(self.trace_lines(sim, "fault corrupt"), ["fault corrupt block 4/26 msg=GetJpeg.data"])

    def test_repeated_block_does_not_double_the_data(self):
        sim = self.start("--repeat", "3", "--fault-cmd", "GetJpeg")
        with Client(sim.path) as c:
            data, _ = c.get_jpeg(self.connect(c))
            self.assertEqual(data, self.card_file(1))
            self.assertEqual(c.repeats_seen, 3)
        self.assertEqual(len(self.trace_lines(sim, "fault repeat block")), 3)

    def test_extra_enq_before_block(self):
        sim = self.start("--extra-enq", "2")
        with Client(sim.path) as c:
            data, _ = c.get_jpeg(self.connect(c))
            self.assertEqual(data, self.card_file(1))
            self.assertEqual(c.extra_enqs_seen, 2)

    def test_dropped_byte_times_out_and_the_next_request_is_served(self):
        sim = self.start("--drop", "1", "--fault-cmd", "GetJpeg")
        with Client(sim.path) as c:
            handle = self.connect(c)
            with self.assertRaises(LinkFailure) as failure:
                c.get_jpeg(handle)
            self.assertTrue(failure.exception.timeout)
            c.purge()
            # The camera still waits for the lost block's ACK; the new enquiry takes over.
            self.assertEqual(word(c.get_io_cap(), 2), 0)
        trace = sim.trace()
        self.assertIn("fault drop block 1/51 msg=GetJpeg.data", trace)
        self.assertIn("abort superseded-by GetIOCap", trace)

    def test_random_corruption_every_success_is_exact(self):
        sim = self.start("--corrupt-rate", "3%", "--repeat-rate", "0.02", "--seed", "7", "--fault-cmd", "GetJpeg",
                         "--pictures", "3")
        expected = [self.card_file(n) for n in (1, 2, 3)]
        with Client(sim.path) as c:
            c.set_io(115200)
            handles = [word(c.get_img_info(n)[1], 4) for n in (1, 2, 3)]
            ok = failed = 0
            for i in range(9):
                try:
                    data, status = c.get_jpeg(handles[i % 3])
                    self.assertEqual(data, expected[i % 3])
                    ok += 1
                except LinkFailure:
                    failed += 1
                    c.purge()
            self.assertGreater(ok, 0)
            self.assertEqual(c.naks_sent, len(self.trace_lines(sim, "fault corrupt")))
            self.assertGreater(c.naks_sent, 0)
            self.assertEqual(c.repeats_seen, len(self.trace_lines(sim, "fault repeat")))

    def test_same_seed_same_faults(self):
        runs = []
        for _ in range(2):
            sim = self.start("--corrupt-rate", "0.2", "--seed", "99", "--fault-cmd", "GetThumb")
            with Client(sim.path) as c:
                handle = word(c.get_img_info(1)[1], 4)
                for _ in range(5):
                    try:
                        c.get_thumb(handle)
                    except LinkFailure:
                        c.purge()
            runs.append(self.trace_lines(sim, "fault corrupt"))
            sim.stop()
        self.assertEqual(runs[0], runs[1])
        self.assertTrue(runs[0])

    def test_silent_after_command(self):
        sim = self.start("--silent-after", "GetStat:2")
        with Client(sim.path) as c:
            c.get_stat()
            c.get_io_cap()
            c.get_stat()
            start = time.monotonic()
            with self.assertRaises(LinkFailure) as failure:
                c.get_io_cap()
            self.assertTrue(failure.exception.timeout)
            self.assertGreaterEqual(time.monotonic() - start, 1.1)  # four enquiries of 300 ms
        trace = sim.trace()
        self.assertEqual(trace.count("fault silent"), 1)
        after = trace[trace.index("fault silent") + 1:]
        self.assertEqual([line for line in after if line.startswith(("rx", "tx"))], [])

    def test_short_status_cuts_one_status_each(self):
        with Client(self.start("--frozen-clock").path) as c:
            full = c.get_stat()
            self.assertEqual(len(full), 39)
        cuts = ("GetStat:2", "GetIOCap", "GetStat:21", "GetThumb:0", "SetIO:100")
        sim = self.start("--frozen-clock", *[arg for cut in cuts for arg in ("--short-status", cut)])
        with Client(sim.path) as c:
            self.assertEqual(c.get_stat(), bytes((0x20, 0x90)))
            self.assertEqual(c.get_io_cap(), b"")
            # The next GetIOCap is whole again; GetStat's second cut keeps its first 21 bytes.
            self.assertEqual(len(c.get_io_cap()), 13)
            cut = c.get_stat()
            self.assertEqual(cut, full[:21])
            self.assertEqual(len(c.get_stat()), 39)
            # The data message goes out whole; only the status is cut.
            _, status = c.get_img_info(1)
            thumb, empty = c.get_thumb(word(status, 4))
            self.assertGreater(len(thumb), 100)
            self.assertEqual(empty, b"")
            # A length beyond the status sends it whole, and the camera acts on it.
            self.assertEqual(len(c.set_io(19200)), 13)
            self.assertEqual(word(c.get_io_cap(), 6), 0x40)
        trace = sim.trace()
        self.assertEqual(self.trace_lines(sim, "fault short-status"),
                         ["fault short-status GetStat len=2 of=39", "fault short-status GetIOCap len=0 of=13",
                          "fault short-status GetStat len=21 of=39", "fault short-status GetThumb len=0 of=9",
                          "fault short-status SetIO len=13 of=13"])
        self.assertIn("tx status GetStat result=none hex=20 90", trace)
        self.assertIn("tx block 1/1 len=0 etx msg=GetIOCap.status hex=", trace)
        self.assertEqual(len(self.trace_lines(sim, "tx status GetStat result=0x0000")), 2)

    def test_short_status_on_the_wire(self):
        sim = self.start("--short-status", "GetStat:3")
        with Client(sim.path) as c:
            c.send_request(request_bytes(0x9020, 0))
            self.assertEqual(c.read_byte(), ENQ)
            c.write((ACK,))
            # STX, length 3 0, the three bytes, ETX and the checksum, nothing stuffed.
            packet = bytes(c.read_raw(3.0) for _ in range(8))
            self.assertEqual(packet, encode_packet(bytes((0x20, 0x90, 0x00))))
            c.write((ACK,))
            self.assertEqual(c.read_byte(), EOT)
            self.assertEqual(len(c.get_stat()), 39)

    def test_cancel_accepted_during_download(self):
        sim = self.start()
        with Client(sim.path) as c:
            handle = self.connect(c)
            with self.assertRaises(LinkFailure) as failure:
                c.get_jpeg(handle, on_packet=lambda count: count >= 3 * 4096)
            self.assertEqual(str(failure.exception), "cancelled")
            self.assertEqual(word(c.get_io_cap(), 2), 0)
        trace = sim.trace()
        self.assertIn("cancel accepted", trace)
        self.assertEqual(len(self.trace_lines(sim, "tx block 4/51")), 0)
        self.assertEqual(len(self.trace_lines(sim, "tx status GetJpeg")), 0)

    def refused_cancel_download(self, mode):
        sim = self.start("--refuse-cancel", "1:" + mode)
        cancels = []
        with Client(sim.path) as c:
            handle = self.connect(c)

            def cancel_once(count):
                if count >= 2 * 4096 and not cancels:
                    cancels.append(count)
                    return True
                return False

            data, status = c.get_jpeg(handle, on_packet=cancel_once)
            self.assertEqual(data, self.card_file(1))
            self.assertEqual(word(status, 2), 0)
        return sim

    def test_cancel_refused_with_result(self):
        sim = self.refused_cancel_download("result")
        self.assertIn("fault refuse-cancel result", sim.trace())
        self.assertIn("tx status CancelTransfer result=0x0C03", "\n".join(sim.trace()))

    def test_cancel_refused_with_nak(self):
        sim = self.refused_cancel_download("nak")
        self.assertIn("fault refuse-cancel nak", sim.trace())
        self.assertEqual(len(self.trace_lines(sim, "tx nak")), 4)

    def test_cancel_after_the_status_is_accepted(self):
        sim = self.start()
        with Client(sim.path) as c:
            c.get_thumb(self.connect(c))
            status = c.cancel()
            self.assertEqual(word(status, 2), 0)

    def test_pacing_follows_the_bit_rate(self):
        sim = self.start("--pace")
        with Client(sim.path) as c:
            handle = word(c.get_img_info(1)[1], 4)
            start = time.monotonic()
            thumb, _ = c.get_thumb(handle)
            elapsed = time.monotonic() - start
            # At 9600 bit/s a byte takes 1.04 ms; the thumbnail alone needs this long at least.
            self.assertGreaterEqual(elapsed, len(thumb) * 10 / 9600 * 0.9)
            c.set_io(115200)
            start = time.monotonic()
            c.get_thumb(handle)
            self.assertLess(time.monotonic() - start, elapsed)


if __name__ == "__main__":
    simtest.main()
