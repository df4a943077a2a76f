#!/usr/bin/env python3
"""Turns a simulator trace (taken with --trace-full-hex) into seeds for fuzz_link's raw mode:
one file per exchange, holding the camera's bytes of that exchange as they went over the line
(corrupted and shortened blocks rebuilt from the trace's fault lines, a silence where the
camera waited for the link's NAK).

usage: seeds_from_trace.py TRACE OUTDIR [--max-bytes N]"""
import os
import re
import sys

COMMANDS = {"GetStat": 0, "GetImgInfo": 1, "GetThumb": 2, "GetJpeg": 3, "SetIO": 4, "CancelTransfer": 5,
            "GetIOCap": 6, "SetDate": 7}
STX, ETX, EOT, ENQ, ACK, NAK, ETB, ESC = 0x02, 0x03, 0x04, 0x05, 0x06, 0x15, 0x17, 0x1B


def stuff(out, value):
    if value in (0x02, 0x11, 0x13, 0x1B):
        out += [ESC, (~value) & 0xFF]
    else:
        out.append(value)


def packet(payload, more, corrupt, drop):
    terminator = ETB if more else ETX
    out = [STX]
    stuff(out, len(payload) & 0xFF)
    stuff(out, len(payload) >> 8)
    drop_at = None
    for i, b in enumerate(payload):
        if i == len(payload) // 2:
            drop_at = len(out)
        stuff(out, b)
    stuff(out, terminator)
    checksum = (len(payload) & 0xFF) + (len(payload) >> 8) + sum(payload) + terminator
    checksum &= 0xFF
    if corrupt:
        checksum = (checksum + 0x55) & 0xFF
    stuff(out, checksum)
    if drop and payload:
        del out[drop_at]
    return out


def encode(stream):
    """Script bytes: 0xF0 0x00 silence, 0xF0 0x01 later, 0xF0 0x02 a plain 0xF0."""
    out = bytearray()
    for b in stream:
        if b == "silence":
            out += b"\xf0\x00"
        elif b == 0xF0:
            out += b"\xf0\x02"
        else:
            out.append(b)
    return bytes(out)


def exchanges(lines):
    """Yields (command, camera stream) per request the camera took."""
    lines = [re.sub(r"^\[ *[0-9.]+\] ", "", line.rstrip("\n")) for line in lines]
    lines = [line for line in lines if line.startswith(("rx ", "tx ", "fault "))]
    current, command, fault = None, None, set()
    for n, line in enumerate(lines):
        if line == "rx enq" and lines[n + 1:n + 2] == ["tx ack"] and lines[n + 2:n + 3] and \
                lines[n + 2].startswith("rx packet"):
            if current is not None and command is not None:
                yield command, current
            current, command, fault = [], None, set()
            continue
        if current is None:
            continue
        m = re.match(r"rx cmd (\w+)", line)
        if m:
            command = m.group(1)
        elif line.startswith("fault corrupt"):
            fault.add("corrupt")
        elif line.startswith("fault drop"):
            fault.add("drop")
        elif line in ("tx ack", "tx nak", "tx enq", "tx eot"):
            current.append({"tx ack": ACK, "tx nak": NAK, "tx enq": ENQ, "tx eot": EOT}[line])
        elif line.startswith("tx block"):
            m = re.search(r" (etb|etx) .*hex=(.*)$", line)
            payload = [int(x, 16) for x in m.group(2).split()]
            current += packet(payload, m.group(1) == "etb", "corrupt" in fault, "drop" in fault)
            if fault:
                current.append("silence")
            fault = set()
    if current is not None and command is not None:
        yield command, current


def main():
    trace, outdir = sys.argv[1], sys.argv[2]
    limit = int(sys.argv[sys.argv.index("--max-bytes") + 1]) if "--max-bytes" in sys.argv else 20000
    os.makedirs(outdir, exist_ok=True)
    name = os.path.splitext(os.path.basename(trace))[0]
    items = list(exchanges(open(trace)))
    written = 0
    for i, (command, stream) in enumerate(items):
        if command not in COMMANDS:
            continue
        head = bytes([COMMANDS[command], 0]) + b"\xf0\x01"
        with open(os.path.join(outdir, "%s-%03d-%s" % (name, i, command)), "wb") as f:
            f.write(head + encode(stream)[:limit])
        written += 1
    # SetIO opens the port first: GetIOCap, SetIO, GetIOCap, GetStat in one seed.
    for i in range(len(items) - 3):
        if [c for c, _ in items[i:i + 4]] == ["GetIOCap", "SetIO", "GetIOCap", "GetStat"]:
            stream = sum((s for _, s in items[i:i + 4]), [])
            with open(os.path.join(outdir, "%s-%03d-SetIO-open" % (name, i)), "wb") as f:
                f.write(bytes([COMMANDS["SetIO"], 0]) + b"\xf0\x01" + encode(stream)[:limit])
            written += 1
            break
    print("%d seeds from %s" % (written, trace))


if __name__ == "__main__":
    main()
