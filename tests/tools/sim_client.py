"""Host side of the camera's serial protocol, for driving dorvex-sim from tests.

SimProcess starts the simulator and reads its pty path; Client opens that pty at a line
speed and speaks the source's side: request with enquiry retries, reception of blocks with
NAK/retransmission, repeated blocks and extra ENQ, cancel between blocks. Every wait is bounded.
"""
import os
import select
import subprocess
import termios
import time
import tty

STX, ETX, EOT, ENQ, ACK, NAK, ETB, ESC = 0x02, 0x03, 0x04, 0x05, 0x06, 0x15, 0x17, 0x1B
STUFFED = (0x02, 0x11, 0x13, 0x1B)
SPEEDS = {300: termios.B300, 600: termios.B600, 1200: termios.B1200, 2400: termios.B2400,
          4800: termios.B4800, 9600: termios.B9600, 19200: termios.B19200, 38400: termios.B38400,
          57600: termios.B57600, 115200: termios.B115200}
RATE_CODES = {300: 0x1, 600: 0x2, 1200: 0x4, 2400: 0x8, 4800: 0x10, 9600: 0x20, 19200: 0x40,
              38400: 0x80, 57600: 0x100, 115200: 0x200}


class LinkFailure(Exception):
    """The exchange failed; timeout tells whether a read timed out (the link error latch)."""

    def __init__(self, message, timeout=False):
        super().__init__(message)
        self.timeout = timeout


def stuff(value, out):
    if value in STUFFED:
        out += bytes((ESC, value ^ 0xFF))
    else:
        out.append(value)


def encode_packet(payload, more=False):
    term = ETB if more else ETX
    out = bytearray((STX,))
    n = len(payload)
    for v in (n & 0xFF, n >> 8):
        stuff(v, out)
    for v in payload:
        stuff(v, out)
    stuff(term, out)
    stuff((n + (n >> 8) + sum(payload) + term) & 0xFF, out)
    return bytes(out)


def word(data, at):
    return data[at] | (data[at + 1] << 8)


def request_bytes(code, *words, tail=b""):
    out = bytearray((code & 0xFF, code >> 8, 0, 0))
    for w in words:
        out += bytes((w & 0xFF, w >> 8))
    return bytes(out) + tail


class SimProcess:
    """dorvex-sim running on a pty; stop() ends it with SIGTERM and returns its exit status."""

    def __init__(self, binary, *args, trace=None, timeout=30):
        cmd = [binary] + list(args)
        if trace:
            cmd += ["--trace", trace]
        self.trace_path = trace
        self.proc = subprocess.Popen(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        ready, _, _ = select.select([self.proc.stdout], [], [], timeout)
        line = self.proc.stdout.readline().decode() if ready else ""
        if not line.startswith("pty: "):
            self.proc.kill()
            raise RuntimeError("simulator did not start: %r %r" % (line, self.proc.stderr.read()))
        self.path = line[5:].strip()

    def stop(self, timeout=10):
        if self.proc.poll() is None:
            self.proc.terminate()
        try:
            return self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
            return None
        finally:
            self.proc.stdout.close()
            self.proc.stderr.close()

    def trace(self):
        with open(self.trace_path) as f:
            return f.read().splitlines()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()


class Client:
    def __init__(self, path, rate=9600):
        self.fd = os.open(path, os.O_RDWR | os.O_NOCTTY)
        tty.setraw(self.fd)
        self.set_rate(rate)
        self.buffer = bytearray()
        # Counters of what the receiver saw, for assertions.
        self.naks_sent = 0
        self.repeats_seen = 0
        self.extra_enqs_seen = 0

    def close(self):
        if self.fd is not None:
            os.close(self.fd)
            self.fd = None

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def set_rate(self, rate):
        attrs = termios.tcgetattr(self.fd)
        attrs[4] = attrs[5] = SPEEDS[rate]
        termios.tcsetattr(self.fd, termios.TCSANOW, attrs)
        self.rate = rate

    def purge(self):
        termios.tcflush(self.fd, termios.TCIOFLUSH)
        self.buffer.clear()

    # Raw bytes ---------------------------------------------------------------------------
    def write(self, data):
        os.write(self.fd, bytes(data))

    def read_raw(self, timeout):
        if not self.buffer:
            ready, _, _ = select.select([self.fd], [], [], timeout)
            if not ready:
                raise LinkFailure("read timed out", timeout=True)
            self.buffer += os.read(self.fd, 65536)
        b = self.buffer[0]
        del self.buffer[0]
        return b

    def read_byte(self, timeout=3.0):
        """One value with the inverse of the stuffing applied."""
        b = self.read_raw(timeout)
        if b == ESC:
            b = self.read_raw(timeout) ^ 0xFF
        return b

    def silence(self, seconds):
        """True when nothing arrives for that long."""
        ready, _, _ = select.select([self.fd], [], [], seconds)
        return not ready and not self.buffer

    # Source side of the protocol ---------------------------------------------------------
    def wait_ack(self, timeout):
        while True:
            b = self.read_byte(timeout)
            if b == ACK:
                return True
            if b != ENQ:
                return False

    def send_request(self, payload, single_enquiry=False):
        tries = 1 if single_enquiry else 4
        for attempt in range(tries):
            self.write((ENQ,))
            try:
                if self.wait_ack(3.0 if single_enquiry else 0.3):
                    break
            except LinkFailure:
                pass
        else:
            raise LinkFailure("no answer to enquiry", timeout=True)
        packet = encode_packet(payload)
        for sending in range(4):
            self.write(packet)
            if self.wait_ack(3.0):
                self.write((EOT,))
                return
        raise LinkFailure("request not acknowledged")

    def receive_message(self, on_packet=None):
        """Blocks of one message appended; on_packet(count) returning True cancels."""
        data = bytearray()
        while True:
            if self.read_byte() != ENQ:
                raise LinkFailure("block does not start with ENQ")
            self.write((ACK,))
            start = len(data)
            retries = 0
            first = self.read_byte()
            if first == ENQ:
                self.extra_enqs_seen += 1
                first = self.read_byte()
            bad = first != STX
            while True:
                low = self.read_byte()
                high = self.read_byte()
                length = low | (high << 8)
                total = low + high
                body = bytearray()
                for _ in range(length):
                    body.append(self.read_byte())
                term = self.read_byte()
                checksum = self.read_byte()
                total = (total + sum(body) + term) & 0xFF
                if checksum == total and not bad and term in (ETX, ETB):
                    del data[start:]
                    data += body
                    self.write((ACK,))
                    after = self.read_byte()
                    if after == STX:
                        if retries == 3:
                            raise LinkFailure("too many repeats")
                        retries += 1
                        self.repeats_seen += 1
                        continue
                    break
                self.write((NAK,))
                self.naks_sent += 1
                if retries == 3:
                    raise LinkFailure("four bad receptions")
                retries += 1
                bad = False
                first = self.read_byte()
                if first == ENQ:
                    self.extra_enqs_seen += 1
                    first = self.read_byte()
                bad = first != STX
            if on_packet and on_packet(len(data)):
                status = self.cancel()
                if status is not None and word(status, 2) == 0:
                    raise LinkFailure("cancelled")
            if term == ETX:
                return bytes(data)

    def transact(self, payload, has_data=False, on_packet=None):
        self.send_request(payload)
        data = self.receive_message(on_packet) if has_data else None
        status = self.receive_message()
        return data, status

    def cancel(self):
        """CancelTransfer with a single enquiry; the status, or None when it failed."""
        try:
            self.send_request(request_bytes(0x9E00), single_enquiry=True)
            return self.receive_message()
        except LinkFailure as failure:
            if failure.timeout:
                raise
            return None

    # Commands ------------------------------------------------------------------------------
    def set_io(self, rate, settings=0x0011):
        code = RATE_CODES.get(rate, 0x20) if rate >= 9600 else 0x20
        _, status = self.transact(request_bytes(0x9080, code, settings))
        if word(status, 2) == 0:
            self.set_rate(rate)
        return status

    def get_io_cap(self):
        return self.transact(request_bytes(0x9000))[1]

    def get_stat(self):
        return self.transact(request_bytes(0x9020, 0))[1]

    def set_date(self, six):
        return self.transact(request_bytes(0x90B0, tail=bytes(six)))[1]

    def get_img_info(self, number):
        return self.transact(request_bytes(0x8820, 2, number), has_data=True)

    def get_thumb(self, handle):
        return self.transact(request_bytes(0x8800, 2, handle), has_data=True)

    def get_jpeg(self, handle, on_packet=None):
        return self.transact(request_bytes(0x8810, 2, handle), has_data=True, on_packet=on_packet)


def wait_until(predicate, timeout=5.0):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        if predicate():
            return True
        time.sleep(0.02)
    return predicate()
