"""A hostile camera: noise before a block's ENQ and before its STX, a corrupted length, a
corrupted escape, a packet cut short, a strict camera (no ENQ taken while it waits for an ACK,
no Cancel outside a transfer), a status of random bytes, 65535 pictures and a size claim that
disagrees with the data. Each fault is checked on the raw bytes and in the trace."""
import simtest
from sim_client import ACK, ENQ, EOT, ESC, NAK, STX, Client, encode_packet, request_bytes, word

IOCAP_STATUS = bytes((0x00, 0x90, 0x00, 0x00, 0xFF, 0x03, 0x20, 0x00, 0x11, 0x00, 0x00, 0x00, 0x00))


class Hostile(simtest.SimTestCase):
    def raw_until_quiet(self, c, quiet=0.3):
        out = bytearray(c.buffer)
        c.buffer.clear()
        while not c.silence(quiet):
            out.append(c.read_raw(quiet))
            out += c.buffer
            c.buffer.clear()
        return bytes(out)

    def fault_hex(self, sim, prefix, index):
        lines = self.trace_lines(sim, prefix)
        return bytes(int(x, 16) for x in lines[index].split("hex=")[1].split())

    def block_after_enquiry(self, c):
        """Reads up to the camera's ENQ, answers ACK, returns (bytes before ENQ, packet bytes)."""
        before = bytearray()
        while True:
            b = c.read_raw(3.0)
            if b == ENQ:
                break
            before.append(b)
        c.write((ACK,))
        return bytes(before), self.raw_until_quiet(c)

    def test_noise_before_the_enquiry_and_before_the_start(self):
        sim = self.start("--noise-rate", "1", "--fault-cmd", "GetIOCap", "--seed", "3")
        with Client(sim.path) as c:
            c.send_request(request_bytes(0x9000))
            before, wire = self.block_after_enquiry(c)
            self.assertEqual(before, self.fault_hex(sim, "fault noise", 0))
            stx_noise = self.fault_hex(sim, "fault noise", 1)
            self.assertTrue(1 <= len(before) <= 8 and 1 <= len(stx_noise) <= 8)
            self.assertEqual(wire, stx_noise + encode_packet(IOCAP_STATUS))
            c.write((ACK,))
            self.assertEqual(c.read_raw(3.0), EOT)
        self.assertIn("before-enq", self.trace_lines(sim, "fault noise")[0])
        self.assertIn("before-stx", self.trace_lines(sim, "fault noise")[1])

    def test_corrupted_length_then_a_clean_resend_after_nak(self):
        claims = set()
        for seed in ("1", "2", "3", "4"):
            sim = self.start("--corrupt-length", "1", "--fault-cmd", "GetIOCap", "--seed", seed)
            with Client(sim.path) as c:
                c.send_request(request_bytes(0x9000))
                _, wire = self.block_after_enquiry(c)
                clean = encode_packet(IOCAP_STATUS)
                self.assertEqual(len(wire), len(clean))
                self.assertNotEqual(wire[1], clean[1])  # 13 is not stuffed, nor a wrong claim of it
                self.assertLessEqual(abs(wire[1] - 13), 64)
                claims.add(wire[1] > 13)
                self.assertEqual(wire[2:], clean[2:])
                c.write((NAK,))
                self.assertEqual(self.raw_until_quiet(c), clean)
                c.write((ACK,))
                self.assertEqual(c.read_raw(3.0), EOT)
            self.assertEqual(self.trace_lines(sim, "fault corrupt-length"),
                             ["fault corrupt-length block 1/1 msg=GetIOCap.status"])
        self.assertEqual(claims, {True, False})  # longer and shorter claims both came

    def test_corrupted_escape_then_a_clean_resend_after_nak(self):
        sim = self.start("--corrupt-escape", "100%", "--fault-cmd", "GetIOCap")
        with Client(sim.path) as c:
            c.send_request(request_bytes(0x9000))
            _, wire = self.block_after_enquiry(c)
            clean = encode_packet(IOCAP_STATUS)
            at = clean.index(bytes((ESC, 0xEE)))  # the settings word 0x11
            self.assertEqual(len(wire), len(clean))
            self.assertEqual(wire[:at + 1], clean[:at + 1])
            self.assertNotEqual(wire[at + 1], 0xEE)
            self.assertEqual(wire[at + 2:], clean[at + 2:])
        self.assertEqual(len(self.trace_lines(sim, "fault corrupt-escape block 1/1")), 1)

    def test_truncated_packet_then_silence_then_resend_after_nak(self):
        sim = self.start("--truncate-packet", "1", "--fault-cmd", "GetIOCap", "--seed", "4")
        with Client(sim.path) as c:
            c.send_request(request_bytes(0x9000))
            _, wire = self.block_after_enquiry(c)
            clean = encode_packet(IOCAP_STATUS)
            self.assertGreaterEqual(len(wire), 1)
            self.assertLess(len(wire), len(clean))
            self.assertEqual(wire, clean[:len(wire)])
            self.assertTrue(c.silence(0.5))  # the camera waits for our answer
            c.write((NAK,))
            self.assertEqual(self.raw_until_quiet(c), clean)
            c.write((ACK,))
            self.assertEqual(c.read_raw(3.0), EOT)
        self.assertEqual(self.trace_lines(sim, "fault truncate"), ["fault truncate block 1/1 msg=GetIOCap.status"])

    def test_strict_camera_ignores_an_enquiry_while_waiting_and_refuses_a_stray_cancel(self):
        sim = self.start("--strict")
        with Client(sim.path) as c:
            c.send_request(request_bytes(0x9000))
            self.assertEqual(c.read_raw(3.0), ENQ)
            c.write((ENQ,))  # we want the line: a strict camera keeps waiting for its ACK
            self.assertTrue(c.silence(0.3))
            c.write((ACK,))
            self.assertEqual(self.raw_until_quiet(c), encode_packet(IOCAP_STATUS))
            c.write((ACK,))
            self.assertEqual(c.read_raw(3.0), EOT)
            status = c.cancel()
            self.assertEqual(word(status, 2), 0x0C03)
        self.assertEqual(self.trace_lines(sim, "strict"), ["strict ignore-enq", "strict refuse-cancel"])

    def test_garbage_status_has_random_length_and_content(self):
        sim = self.start("--garbage-status", "GetStat:2", "--seed", "9")
        with Client(sim.path) as c:
            first = c.get_stat()
            second = c.get_stat()
            third = c.get_stat()
        lengths = [int(line.split("len=")[1]) for line in self.trace_lines(sim, "fault garbage-status GetStat")]
        self.assertEqual(lengths, [len(first), len(second)])
        self.assertTrue(all(n <= 64 for n in lengths))
        self.assertNotEqual(first, second)
        self.assertEqual((len(third), word(third, 0), word(third, 2)), (39, 0x9020, 0))

    def test_65535_pictures_repeat_the_card_and_their_handles_wrap(self):
        sim = self.start("--pictures", "65535", "--frozen-clock")
        with Client(sim.path) as c:
            self.assertEqual(word(c.get_stat(), 12), 65535)
            info1, status1 = c.get_img_info(1)
            info10, status10 = c.get_img_info(10)
            self.assertEqual((word(status10, 2), info10), (0, info1))
            last_info, last = c.get_img_info(65535)
            self.assertEqual(word(last, 2), 0)
            self.assertEqual(last_info, c.get_img_info((65535 - 1) % 9 + 1)[0])
            handle = word(last, 4)
            self.assertEqual(handle, (0x2000 + 65535) & 0xFFFF)
            thumb, status = c.get_thumb(handle)
            self.assertEqual(word(status, 2), 0)
            self.assertEqual(word(c.get_img_info(65536 & 0xFFFF)[1], 2), 0x0810)  # number 0
        self.assertIn("start mode=pty", self.trace_lines(sim, "start")[0])
        self.assertTrue(self.trace_lines(sim, "start")[0].endswith("pictures=65535"))

    def test_size_claim_disagrees_with_the_data(self):
        sim = self.start("--size-claim", "1000")
        with Client(sim.path) as c:
            _, status = c.get_img_info(1)
            self.assertEqual(word(status, 6), 1)  # 1000 bytes: 1 KiB
            data, status = c.get_jpeg(word(status, 4))
            self.assertEqual(word(status, 2), 0)
            self.assertGreater(len(data), 10000)
        self.assertEqual(self.trace_lines(sim, "fault size-claim"), ["fault size-claim number=1 kib=1"])


if __name__ == "__main__":
    simtest.main()
