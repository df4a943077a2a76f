"""Every command of the camera answered through the pty: status layouts and lengths, bit-rate
changes and the silence at a wrong line speed, the status record, the clock, busy, and the
picture commands against the card the simulator dumps."""
import math
import os
import subprocess

import simtest
from sim_client import Client, LinkFailure, request_bytes, word


class Commands(simtest.SimTestCase):
    def dump(self, *args):
        out = os.path.join(self.tmp, "card")
        subprocess.run([simtest.SIM, "--dump-card", out] + list(args), check=True)
        return out

    def test_status_lengths_layouts_and_command_echo(self):
        sim = self.start("--frozen-clock")
        with Client(sim.path) as c:
            cap = c.get_io_cap()
            self.assertEqual(len(cap), 13)
            self.assertEqual(word(cap, 0), 0x9000)
            self.assertEqual(word(cap, 2), 0)
            self.assertEqual(word(cap, 6), 0x0020)  # current rate 9600
            self.assertEqual(len(c.get_stat()), 39)
            self.assertEqual(len(c.set_date([1, 2, 3, 4, 5, 6])), 9)
            info, status = c.get_img_info(1)
            self.assertEqual(len(status), 15)
            _, thumb = c.get_thumb(word(status, 4))
            self.assertEqual(len(thumb), 9)
            _, jpeg = c.get_jpeg(word(status, 4))
            self.assertEqual(len(jpeg), 9)
            cancel = c.cancel()
            self.assertEqual((len(cancel), word(cancel, 0), word(cancel, 2)), (11, 0x9E00, 0))
            _, unknown = c.transact(request_bytes(0x1234))
            self.assertEqual((len(unknown), word(unknown, 2)), (9, 0x0E02))
            _, short = c.transact(request_bytes(0x8820))  # picture request without its words
            # No data message was expected by the caller, so the empty data message came first.
            self.assertEqual(len(short), 0)
        self.assertIn("rx cmd Unknown code=0x1234 hex=34 12 00 00", sim.trace())

    def test_set_io_at_every_rate_then_back_to_9600(self):
        sim = self.start()
        with Client(sim.path) as c:
            for rate in (19200, 38400, 57600, 115200, 9600):
                status = c.set_io(rate)
                self.assertEqual(word(status, 2), 0, rate)
                cap = c.get_io_cap()  # the link check at the new speed
                self.assertEqual(word(cap, 2), 0)
                self.assertEqual(word(cap, 6), {19200: 0x40, 38400: 0x80, 57600: 0x100,
                                             115200: 0x200, 9600: 0x20}[rate])
        lines = self.trace_lines(sim, "rx cmd SetIO")
        self.assertEqual(lines[0], "rx cmd SetIO rate=19200 code=0x0040 settings=0x0011")
        self.assertEqual([line.split()[3] for line in lines],
                         ["rate=19200", "rate=38400", "rate=57600", "rate=115200", "rate=9600"])
        self.assertIn("state rate 57600 -> 115200", sim.trace())

    def test_wrong_line_speed_is_noise(self):
        sim = self.start()
        with Client(sim.path, rate=19200) as c:
            with self.assertRaises(LinkFailure) as failure:
                c.get_io_cap()
            self.assertTrue(failure.exception.timeout)
            c.set_rate(9600)
            self.assertEqual(word(c.get_io_cap(), 2), 0)
        self.assertTrue(self.trace_lines(sim, "rx noise count="))
        self.assertIn("host-rate=19200 camera-rate=9600", self.trace_lines(sim, "rx noise")[0])
        self.assertEqual(len(self.trace_lines(sim, "rx cmd")), 1)

    def test_unlisted_rate_sends_9600_code_and_loses_the_camera(self):
        sim = self.start()
        with Client(sim.path) as c:
            # 4800 bit/s: the request carries the 9600 code, the port goes to 4800.
            _, status = c.transact(request_bytes(0x9080, 0x0020, 0x0011))
            self.assertEqual(word(status, 2), 0)
            c.set_rate(4800)
            with self.assertRaises(LinkFailure):
                c.get_io_cap()
            c.set_rate(9600)
            self.assertEqual(word(c.get_io_cap(), 2), 0)
            _, bad = c.transact(request_bytes(0x9080, 0x0003, 0x0011))  # not a single table bit
            self.assertEqual(word(bad, 2), 0x0E01)
            self.assertEqual(word(c.get_io_cap(), 6), 0x0020)

    def test_camera_left_at_115200(self):
        sim = self.start("--rate", "115200")
        with Client(sim.path) as c:
            with self.assertRaises(LinkFailure):
                c.set_io(9600)
            c.set_rate(115200)
            self.assertEqual(word(c.set_io(115200), 2), 0)

    def test_status_record_power_card_count_and_clock(self):
        sim = self.start("--battery", "low", "--pictures", "4", "--clock", "1999-12-31T23:59:58",
                         "--frozen-clock")
        with Client(sim.path) as c:
            s = c.get_stat()
            self.assertEqual((s[6], s[7], s[8] & 1, word(s, 12)), (0, 2, 1, 4))
            self.assertEqual(list(s[16:22]), [99, 12, 31, 23, 59, 58])
            self.assertEqual(word(c.set_date([5, 6, 7, 8, 9, 10]), 2), 0)
            self.assertEqual(list(c.get_stat()[16:22]), [5, 6, 7, 8, 9, 10])
            # An impossible date is refused and leaves the clock as it was.
            self.assertEqual(word(c.set_date([5, 2, 30, 8, 9, 10]), 2), 0x0E01)
            self.assertEqual(word(c.set_date([5, 13, 1, 8, 9, 10]), 2), 0x0E01)
            self.assertEqual(list(c.get_stat()[16:22]), [5, 6, 7, 8, 9, 10])
        self.assertIn("rx cmd SetDate date=05-06-07 08:09:10 hex=05 06 07 08 09 0a", sim.trace())

    def test_running_clock_and_power_values(self):
        sim = self.start("--power", "1,0", "--clock", "2026-12-07T09:00:00")
        with Client(sim.path) as c:
            first = c.get_stat()
            self.assertEqual((first[6], first[7]), (1, 0))
            self.assertEqual(list(first[16:20]), [26, 12, 7, 9])
            self.assertLessEqual(first[21] + first[20] * 60, 30)
            import time
            time.sleep(1.2)
            second = c.get_stat()
            self.assertGreater(second[21] + second[20] * 60, first[21] + first[20] * 60)

    def test_no_card(self):
        sim = self.start("--no-card")
        with Client(sim.path) as c:
            s = c.get_stat()
            self.assertEqual((s[8] & 1, word(s, 12)), (0, 0))
            data, status = c.get_img_info(1)
            self.assertEqual((data, word(status, 2)), (b"", 0x0810))

    def test_busy_counts_connection_commands_only(self):
        sim = self.start("--busy", "3")
        with Client(sim.path) as c:
            self.assertEqual(word(c.set_io(9600), 2), 0x0C02)
            self.assertEqual(word(c.get_io_cap(), 2), 0x0C02)
            _, info = c.get_img_info(1)  # not a connection command: answered
            self.assertEqual(word(info, 2), 0)
            self.assertEqual(word(c.get_stat(), 2), 0x0C02)
            self.assertEqual(word(c.get_stat(), 2), 0)
        self.assertEqual(len(self.trace_lines(sim, "fault busy")), 3)

    def test_pictures_match_the_dumped_card(self):
        card = self.dump("--pictures", "6")
        sim = self.start("--pictures", "6", "--mark", "2", "--no-size", "3", "--block-size", "1000")
        with Client(sim.path) as c:
            c.set_io(115200)
            c.get_io_cap()
            for n in range(1, 7):
                with open(os.path.join(card, "%02d.jpg" % n), "rb") as f:
                    jpeg = f.read()
                with open(os.path.join(card, "%02d.info" % n), "rb") as f:
                    info = f.read()
                data, status = c.get_img_info(n)
                self.assertEqual(data, info)
                self.assertTrue(jpeg.startswith(info))
                handle = word(status, 4)
                self.assertEqual(handle, 0x2000 + n)
                kib = 0 if n == 3 else math.ceil(len(jpeg) / 1024)
                self.assertEqual(word(status, 6), kib)
                self.assertEqual(word(status, 8), 1 if n == 2 else 0)
                data, status = c.get_jpeg(handle)
                self.assertEqual(word(status, 2), 0)
                self.assertEqual(data, jpeg)
                thumb, status = c.get_thumb(handle)
                self.assertEqual(word(status, 2), 0)
                side = [name for name in os.listdir(card) if name.startswith("%02d." % n) and
                        name.endswith((".thm", ".tif"))]
                with open(os.path.join(card, side[0]), "rb") as f:
                    self.assertEqual(thumb, f.read())
                self.assertEqual(thumb[0] == 0xFF, side[0].endswith(".thm"))
        data_lines = self.trace_lines(sim, "tx data GetJpeg")
        self.assertEqual(len(data_lines), 6)
        size = int(data_lines[0].split("bytes=")[1].split()[0])
        self.assertIn("blocks=%d" % math.ceil(size / 1000), data_lines[0])
        self.assertIn("tx block 2/%d len=1000 etb msg=GetJpeg.data" % math.ceil(size / 1000),
                      "\n".join(sim.trace()))

    def test_deleted_missing_and_unknown_pictures(self):
        sim = self.start("--pictures", "3", "--deleted", "2", "--no-thumb", "3")
        with Client(sim.path) as c:
            for number in (2, 4, 0):
                data, status = c.get_img_info(number)
                self.assertEqual((data, word(status, 2)), (b"", 0x0810), number)
            _, status = c.get_img_info(3)
            data, thumb = c.get_thumb(word(status, 4))
            self.assertEqual((data, word(thumb, 2)), (b"", 0x0811))
            data, jpeg = c.get_jpeg(word(status, 4))  # the picture itself is still there
            self.assertEqual(word(jpeg, 2), 0)
            self.assertGreater(len(data), 10000)
            for handle in (3, 0x2002, 0x2004):
                data, status = c.get_jpeg(handle)
                self.assertEqual((data, word(status, 2)), (b"", 0x0813), handle)
            _, status = c.transact(request_bytes(0x8810, 1, 0x2001), has_data=True)
            self.assertEqual(word(status, 2), 0x0E01)


if __name__ == "__main__":
    simtest.main()
