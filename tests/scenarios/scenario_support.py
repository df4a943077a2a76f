"""Shared pieces of the end-to-end scenarios: the camera simulator on a COM port, acquire.exe
under Wine (output to a file, never a pipe: Wine's helper processes keep pipes open), the
source's profile, and the pictures of the simulator's card decoded by dorvex-imaging.

The environment comes from tools/wine/wine-env.sh (WINEPREFIX, DISPLAY, DORVEX_PORTS...).
"""
import filecmp
import os
import shutil
import signal
import subprocess
import tempfile
import time
import unittest

PROFILE = r"HKCU\Software\Zelmar\Dorvex TwainDS"

# The source's user-visible failure texts, as a message box shows them (lines joined by spaces).
MESSAGES = {
    3001: "Image conversion failed.",
    3002: "Unable to connect to Dorvex.",
    3003: "Image transfer failed.",
    3004: "(Clock) Setting failed.",
    3005: "Communication Error.",
    3006: "Card is not in camera.",
    3100: "No response from Dorvex. Please check if Dorvex is connected, is powered up and is closed card door. "
          "Proceed anyway?",
    3101: "Low battery. Proceed anyway?",
    3102: "Dorvex is busy. Please wait until busy LED unlit. Then, click OK button to proceed.",
    3200: "There is not thumbnail image.",
    3201: "Found image what has no thumbnail image.",
}


def normalise(text):
    return " ".join(text.split())


def message_boxes(output):
    """Message ids of the boxes acquire.exe reported, in order; a text that is none of the
    source's messages gives its first words instead of an id."""
    found = []
    for chunk in output.split("Message box: ")[1:]:
        text = normalise(chunk)
        number = next((n for n, known in MESSAGES.items() if text.startswith(normalise(known))), None)
        found.append(number if number is not None else "unknown: " + text[:80])
    return found


def windows_path(path):
    return "Z:" + path.replace("/", "\\")


# What each build's programs are called and where its prefix keeps sources: the 32-bit build's
# acquire.exe loads our TWAIN_32.DLL (system32), which finds the 1.x source below twain_32; the
# 64-bit build's loads our TWAINDSM.DLL beside it, which finds the 2.x source below twain_64.
ARCHITECTURES = {
    "win32": {"machine": 0x14C, "twain_dir": "twain_32", "protocol": "1.6", "groups": "0x3"},
    "win64": {"machine": 0x8664, "twain_dir": "twain_64", "protocol": "2.0", "groups": "0x40000003"},
}


def pe_architecture(path):
    """win32 or win64, from the machine field of a Windows program's PE header."""
    with open(path, "rb") as f:
        data = f.read(4096)
    offset = int.from_bytes(data[0x3C:0x40], "little")
    assert data[:2] == b"MZ" and data[offset:offset + 4] == b"PE\0\0", path
    machine = int.from_bytes(data[offset + 4:offset + 6], "little")
    return next(arch for arch, known in ARCHITECTURES.items() if known["machine"] == machine)


class Tools:
    """The programs of one build: `acquire` is that build's acquire.exe (which loads that build's
    manager), and its architecture (win32 or win64) chooses the prefix's source folder and the
    identity the source gives. The Wine environment must be of the same architecture (wine_env_start ...
    win32|win64)."""

    def __init__(self, acquire, host_bin):
        self.acquire = acquire
        self.sim = os.path.join(host_bin, "dorvex-sim")
        self.imaging = os.path.join(host_bin, "dorvex-imaging")
        self.ports = os.environ["DORVEX_PORTS"]
        self.arch = pe_architecture(acquire)
        prefix_arch = os.environ.get("WINEARCH", "win32")
        if prefix_arch != self.arch:
            raise RuntimeError("%s is a %s program but the Wine environment is %s (wine_env_start ... %s)"
                               % (acquire, self.arch, prefix_arch, self.arch))
        known = ARCHITECTURES[self.arch]
        # The source the prefix holds must be this build's: a prefix reused after a rebuild
        # would otherwise test an older copy.
        bin_dir = os.path.dirname(os.path.abspath(acquire))
        self.source = os.path.join(bin_dir, "DorvexTwain.ds")
        installed = os.path.join(os.environ["WINEPREFIX"], "drive_c", "windows", known["twain_dir"], "Zelmar",
                                 "DorvexTwain.ds")
        if not os.path.isfile(installed) or not filecmp.cmp(installed, self.source, shallow=False):
            raise RuntimeError("%s is not %s's DorvexTwain.ds: start the Wine environment again" % (installed,
                                                                                                     bin_dir))
        # The source's identity as acquire.exe prints it: a 1.x source to 32-bit applications,
        # a 2.x one (DF_DS2) to 64-bit ones.
        self.protocol = known["protocol"]
        self.groups = known["groups"]


def reg(args):
    subprocess.run(["wine", "reg"] + args, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=60)


def reset_profile(baud_rate=None, port=None, thumbnails=None, cache=0):
    """Missing values mean COM1, 9600 bit/s, no automatic thumbnails. The picture cache is off
    unless asked for, so that no scenario finds what an earlier one fetched."""
    reg(["delete", PROFILE, "/f"])
    for name, value in (("BaudRate", baud_rate), ("ComPort", port), ("Thumbnail", thumbnails), ("Cache", cache)):
        if value is not None:
            reg(["add", PROFILE, "/v", name, "/t", "REG_DWORD", "/d", str(value), "/f"])


class Simulator:
    """dorvex-sim with its pty linked as COM`port`; stopped by its process id."""

    def __init__(self, tools, work, args=(), port=1, name="sim"):
        self.trace_path = os.path.join(work, name + ".trace")
        self.out_path = os.path.join(work, name + ".out")
        self.link = os.path.join(tools.ports, "com%d" % port)
        with open(self.out_path, "w") as out:
            self.process = subprocess.Popen([tools.sim, "--link", self.link, "--trace", self.trace_path] + list(args),
                                            stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT)
        deadline = time.time() + 20
        while time.time() < deadline:
            with open(self.out_path) as f:
                if f.readline().startswith("pty: "):
                    return
            if self.process.poll() is not None:
                break
            time.sleep(0.05)
        self.stop()
        raise RuntimeError("simulator did not start: " + open(self.out_path).read())

    def stop(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()

    def trace(self):
        with open(self.trace_path, errors="replace") as f:
            return f.read()


class SilentPort:
    """A pty nobody answers on, linked as COM`port`: a cable with no camera at its end."""

    def __init__(self, tools, port=1):
        self.master, self.slave = os.openpty()
        self.link = os.path.join(tools.ports, "com%d" % port)
        if os.path.lexists(self.link):
            os.unlink(self.link)
        os.symlink(os.ttyname(self.slave), self.link)

    def stop(self):
        if os.path.lexists(self.link):
            os.unlink(self.link)
        os.close(self.slave)
        os.close(self.master)


class Run:
    def __init__(self, status, output, seconds):
        self.status, self.output, self.seconds = status, output, seconds

    def boxes(self):
        return message_boxes(self.output)


def run_acquire(tools, work, args, timeout, name="acquire"):
    """acquire.exe with its output in a file; a run that outlives acquire's own time-out by a
    minute counts as a hang (status None)."""
    out_path = os.path.join(work, name + ".txt")
    started = time.time()
    with open(out_path, "w") as out:
        process = subprocess.Popen(["wine", tools.acquire, "--timeout", str(timeout)] + list(args),
                                   stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT)
        try:
            status = process.wait(timeout=timeout + 60)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()
            status = None
    with open(out_path, errors="replace") as f:
        return Run(status, f.read(), time.time() - started)


def read_bmp_rgb(path):
    with open(path, "rb") as f:
        data = f.read()
    assert data[:2] == b"BM", path
    offset = int.from_bytes(data[10:14], "little")
    width = int.from_bytes(data[18:22], "little", signed=True)
    height = int.from_bytes(data[22:26], "little", signed=True)
    assert data[28] == 24 and height > 0, path
    stride = (width * 3 + 3) & ~3
    rows = []
    for y in range(height):
        start = offset + (height - 1 - y) * stride
        row = bytearray(data[start:start + width * 3])
        row[0::3], row[2::3] = row[2::3], row[0::3]  # BGR -> RGB
        rows.append(bytes(row))
    return width, height, b"".join(rows)


def read_ppm(path):
    with open(path, "rb") as f:
        data = f.read()
    fields, pos = [], 0
    while len(fields) < 4:
        while data[pos:pos + 1].isspace():
            pos += 1
        if data[pos:pos + 1] == b"#":
            pos = data.index(b"\n", pos) + 1
            continue
        end = pos
        while not data[end:end + 1].isspace():
            end += 1
        fields.append(data[pos:end])
        pos = end
    assert fields[0] == b"P6" and fields[3] == b"255"
    return int(fields[1]), int(fields[2]), data[pos + 1:]


def decoded_card(tools, work, sim_args=()):
    """{list position: (width, height, rgb)} of the card the simulator would hold with
    `sim_args`, each JPEG decoded by dorvex-imaging."""
    card = os.path.join(work, "card")
    subprocess.run([tools.sim, "--dump-card", card] + list(sim_args), check=True, stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)
    pictures = {}
    for name in sorted(os.listdir(card)):
        if not name.endswith(".jpg") or "thumb" in name:
            continue
        number = int(name[:2])
        ppm = os.path.join(card, name[:-4] + ".ppm")
        subprocess.run([tools.imaging, "decode", os.path.join(card, name), ppm], check=True, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)
        pictures[number] = read_ppm(ppm)
    return pictures


def new_workdir(prefix):
    return tempfile.mkdtemp(prefix=prefix)


class ScenarioCase(unittest.TestCase):
    """A scenario with a work folder of its own, the source's profile reset before it, and the
    simulators it started stopped after it. Subclasses set TOOLS (and may set WORK_PREFIX)."""
    TOOLS = None
    WORK_PREFIX = "scenario_"

    def setUp(self):
        self.work = new_workdir(self.WORK_PREFIX)
        self.sims = []
        reset_profile()

    def tearDown(self):
        for sim in self.sims:
            sim.stop()
        shutil.rmtree(self.work, ignore_errors=True)

    def simulator(self, *args, name="sim"):
        sim = Simulator(self.TOOLS, self.work, args, name=name)
        self.sims.append(sim)
        return sim

    def acquire(self, *args, timeout=60, name="acquire"):
        run = run_acquire(self.TOOLS, self.work, args, timeout, name)
        self.assertIsNotNone(run.status, "acquire.exe hung:\n" + run.output)
        return run
