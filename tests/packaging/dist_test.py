#!/usr/bin/env python3
"""The release: the archive's contents and versions, and the installer under Wine.

Archive: the zip holds exactly the listed files, byte for byte the build's; the version in its
name, in the installer's own version resource and in the source's version resources agree.
Installer: in a fresh 32-bit prefix of its own (so that nothing the shared test prefix holds can
make it pass), one installation's whole life, step by step in order: a folder that cannot be
written is refused with nothing left behind; a silent install puts the source in place with its
uninstall entry; acquire.exe finds and opens "Zelmar Dorvex" with no DORVEX_TWAIN_DIR; a second
install (with the Wine component, under a Japanese user language) keeps the user's settings; an
install while an application has the source loaded asks for a restart and the restart puts the
new file in place; the silent uninstall given by the entry removes the file, the folder and the
entry and keeps the settings; through the pages, the uninstaller asks whether to remove the
settings, and Yes removes them.

Installer64: in a fresh 64-bit prefix, a silent install puts the 32-bit source below twain_32
and the 64-bit build's (DORVEX_WIN64_BIN) below twain_64; our 64-bit acquire.exe finds and opens
the 64-bit one through our 64-bit manager, the 32-bit acquire.exe the 32-bit one; the quiet
uninstall removes both.

FoundLater: tools installed after a build tree was made are found without deleting it.

usage: dist_test.py DIST_DIR BIN_DIR HOST_BIN VERSION TEST_CLASS
"""
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest
import zipfile

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from pe_version import read_version, version_blocks  # noqa: E402

DIST, BIN, HOST_BIN, VERSION = sys.argv[1:5]
SETUP = os.path.join(DIST, "DorvexTwain-setup.exe")
ARCHIVE = os.path.join(DIST, "DorvexTwain-%s.zip" % VERSION)
UNINSTALL_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\ZelmarDorvexTwain"
PROFILE = r"HKCU\Software\Zelmar\Dorvex TwainDS"
ENGLISH, JAPANESE = 0x409, 0x411


def read(path):
    with open(path, "rb") as f:
        return f.read()


def version_numbers():
    major, minor = VERSION.split(".")
    return (int(major), int(minor), 0, 0)


class Archive(unittest.TestCase):
    def test_holds_exactly_the_release_files_of_this_build(self):
        folder = "DorvexTwain-%s/" % VERSION
        expected = {
            "DorvexTwain.ds": read(os.path.join(BIN, "DorvexTwain.ds")),
            "DorvexTwain-setup.exe": read(SETUP),
            "TWAIN_32.DLL": read(os.path.join(BIN, "TWAIN_32.DLL")),
            "acquire.exe": read(os.path.join(BIN, "acquire.exe")),
            "dorvex-diag.exe": read(os.path.join(BIN, "dorvex-diag.exe")),
        }
        with zipfile.ZipFile(ARCHIVE) as archive:
            self.assertIsNone(archive.testzip())
            files = [name for name in archive.namelist() if not name.endswith("/")]
            self.assertEqual(sorted(files), sorted(folder + name for name in list(expected) + ["README.txt"]))
            for name, data in expected.items():
                self.assertTrue(archive.read(folder + name) == data, name + " differs from the build's")
            readme = archive.read(folder + "README.txt")
        # Plain text for Notepad, in both languages.
        self.assertTrue(readme.startswith(b"\xef\xbb\xbf"))
        text = readme.decode("utf-8")
        self.assertIn("\r\n", text)
        self.assertNotIn("\n", text.replace("\r\n", ""))
        for phrase in ("Installing", "DorvexTwain-setup.exe /S", "インストール", r"C:\Windows\twain_32\Zelmar"):
            self.assertIn(phrase, text)

    def test_versions_agree(self):
        with zipfile.ZipFile(ARCHIVE) as archive:
            source = archive.read("DorvexTwain-%s/DorvexTwain.ds" % VERSION)
        blocks = version_blocks(source)
        self.assertEqual(sorted(blocks), [ENGLISH, JAPANESE])
        for language, letter in ((ENGLISH, "E"), (JAPANESE, "J")):
            file_version, product_version, strings = read_version(blocks[language])
            self.assertEqual(strings["FileVersion"], VERSION + letter)
            self.assertEqual(strings["ProductVersion"], VERSION + letter)
            self.assertEqual(file_version, version_numbers())
            self.assertEqual(product_version, version_numbers())
        setup_blocks = version_blocks(read(SETUP))
        self.assertEqual(len(setup_blocks), 1)
        file_version, _, strings = read_version(next(iter(setup_blocks.values())))
        self.assertEqual(strings["ProductVersion"], VERSION)
        self.assertEqual(strings["CompanyName"], "Zelmar Corporation")
        self.assertEqual(file_version, version_numbers())


class FreshPrefix(unittest.TestCase):
    """A fresh Wine prefix of architecture ARCH for the whole class, with COM1 of its own."""
    ARCH = "win32"

    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix="dorvex_dist_")
        cls.prefix = os.path.join(cls.work, "prefix")
        cls.ports = os.path.join(cls.work, "ports")
        os.makedirs(cls.ports)
        cls.env = {k: v for k, v in os.environ.items() if k != "DORVEX_TWAIN_DIR"}
        cls.env.update(WINEPREFIX=cls.prefix, WINEARCH=cls.ARCH, WINEDEBUG="-all", WINEDLLOVERRIDES="twain_32=n")
        try:
            # No Mono or Gecko installer questions in a fresh prefix.
            boot_env = dict(cls.env, WINEDLLOVERRIDES="mscoree=;mshtml=")
            subprocess.run(["wineboot", "-i"], env=boot_env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=300, check=True)
            cls.reg(["add", r"HKLM\Software\Wine\Ports", "/v", "COM1", "/d", os.path.join(cls.ports, "com1"), "/f"])
            cls.reg(["add", r"HKCU\Software\Wine\X11 Driver", "/v", "Managed", "/d", "N", "/f"])
            subprocess.run(["wineserver", "-w"], env=cls.env, timeout=120)
        except BaseException:
            cls.tearDownClass()
            raise
        cls.windows = os.path.join(cls.prefix, "drive_c", "windows")
        cls.target = os.path.join(cls.windows, "twain_32", "Zelmar")

    @classmethod
    def tearDownClass(cls):
        subprocess.run(["wineserver", "-k"], env=cls.env, timeout=60)
        subprocess.run(["wineserver", "-w"], env=cls.env, timeout=60)
        shutil.rmtree(cls.work, ignore_errors=True)

    @classmethod
    def wine(cls, args, timeout=120, env=None):
        # Output through a file: Wine's helper processes may keep a pipe open after the program ends.
        with tempfile.TemporaryFile() as out:
            result = subprocess.run(["wine"] + args, env=env or cls.env, stdin=subprocess.DEVNULL, stdout=out,
                                    stderr=subprocess.STDOUT, timeout=timeout)
            out.seek(0)
            return result.returncode, out.read().decode("utf-8", errors="replace")

    @classmethod
    def reg(cls, args):
        return cls.wine(["reg"] + args, timeout=60)

    def query(self, key):
        """{value name: (type, data)} of a registry key, or None when it does not exist."""
        status, text = self.reg(["query", key])
        if status != 0:
            return None
        values = {}
        for line in text.splitlines():
            parts = line.strip().split(None, 2)
            if len(parts) >= 2 and parts[1].startswith("REG_"):
                values[parts[0]] = (parts[1], parts[2] if len(parts) > 2 else "")
        return values

    def with_pages(self, program, answer, env=None):
        """Runs the installer or uninstaller with its pages, pressed through by nsis_driver.exe,
        which answers `answer` in message boxes: (program's status, driver's output)."""
        driver = [os.path.join(BIN, "nsis_driver.exe"), "Zelmar Dorvex TWAIN source", answer, "90"]
        with tempfile.TemporaryFile() as out:
            started = subprocess.Popen(["wine", program], env=env or self.env, stdin=subprocess.DEVNULL, stdout=out,
                                       stderr=subprocess.STDOUT)
            try:
                status, text = self.wine(driver, timeout=120, env=env)
                self.assertEqual(status, 0, text)
                return started.wait(timeout=60), text
            finally:
                if started.poll() is None:
                    started.kill()
                    started.wait()

    def install(self, *args, env=None):
        return self.wine([SETUP, "/S"] + list(args), timeout=180, env=env)

    def acquire_with_camera(self, acquire):
        """`acquire` --auto with the simulator on the prefix's COM1: (status, output)."""
        sim_out = os.path.join(self.work, "sim.out")
        link = os.path.join(self.ports, "com1")
        with open(sim_out, "w") as out:
            sim = subprocess.Popen([os.path.join(HOST_BIN, "dorvex-sim"), "--link", link, "--quiet"],
                                   stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT)
        try:
            deadline = time.time() + 20
            while not os.path.lexists(link) and time.time() < deadline and sim.poll() is None:
                time.sleep(0.05)
            self.assertTrue(os.path.lexists(link), read(sim_out))
            return self.wine([acquire, "--auto", "--timeout", "60"], timeout=120)
        finally:
            sim.terminate()
            try:
                sim.wait(timeout=10)
            except subprocess.TimeoutExpired:
                sim.kill()
                sim.wait()


class Installer(FreshPrefix):
    """One 32-bit prefix for the whole class; the tests run in their numbered order, each on the
    state the one before left."""

    def test_1_refuses_a_folder_it_cannot_write(self):
        # The source's folder name is taken by a read-only file: no folder can be made there,
        # whoever runs the installer (file modes alone do not stop root).
        twain = os.path.join(self.windows, "twain_32")
        os.makedirs(twain, exist_ok=True)
        before = sorted(os.listdir(twain))
        with open(self.target, "w") as blocker:
            blocker.write("not a folder")
        os.chmod(self.target, 0o444)
        try:
            status, text = self.install()
            self.assertNotEqual(status, 0, text)
            self.assertEqual(sorted(os.listdir(twain)), sorted(before + ["Zelmar"]))
            self.assertEqual(read(self.target), b"not a folder")
            self.assertIsNone(self.query(UNINSTALL_KEY))
            # With its pages, under a Japanese user language: the same refusal, in a message box.
            status, text = self.with_pages(SETUP, "no", env=dict(self.env, LC_ALL="ja_JP.UTF-8"))
            self.assertEqual(status, 2, text)
            self.assertIn("Message box: フォルダー", text)
            self.assertIn("に書き込めません。何もインストールされていません。", text)
            self.assertEqual(sorted(os.listdir(twain)), sorted(before + ["Zelmar"]))
            self.assertIsNone(self.query(UNINSTALL_KEY))
        finally:
            os.chmod(self.target, 0o644)
            os.remove(self.target)
        # The Wine component's folder cannot be made, after the source's file has been written:
        # that file goes again, and no uninstaller or entry is made.
        os.makedirs(self.target)
        with open(os.path.join(self.target, "Wine"), "w") as blocker:
            blocker.write("not a folder")
        try:
            status, text = self.install("/WINE")
            self.assertNotEqual(status, 0, text)
            self.assertEqual(os.listdir(self.target), ["Wine"])
            self.assertIsNone(self.query(UNINSTALL_KEY))
        finally:
            shutil.rmtree(self.target)
        # A read-only folder that exists: file modes stop an ordinary user; root is stopped by
        # the immutable attribute, where the file system has one.
        os.makedirs(self.target)
        if os.geteuid() != 0:
            os.chmod(self.target, 0o555)
            undo = ["chmod", "755", self.target]
        elif subprocess.run(["chattr", "+i", self.target], capture_output=True).returncode == 0:
            undo = ["chattr", "-i", self.target]
        else:
            os.rmdir(self.target)
            print("no way to make a read-only folder for root here: only the blocked folder name was tried")
            return
        try:
            status, text = self.install()
            self.assertNotEqual(status, 0, text)
            self.assertEqual(os.listdir(self.target), [])
            self.assertEqual(sorted(os.listdir(twain)), sorted(before + ["Zelmar"]))
            self.assertIsNone(self.query(UNINSTALL_KEY))
        finally:
            subprocess.run(undo, check=True)
            os.rmdir(self.target)

    def test_2_installs_silently_with_its_uninstall_entry(self):
        started = time.time()
        status, text = self.install()
        self.assertEqual(status, 0, text)
        print("silent install: %.1f s, installer %d bytes" % (time.time() - started, os.path.getsize(SETUP)))
        installed = os.path.join(self.target, "DorvexTwain.ds")
        self.assertTrue(read(installed) == read(os.path.join(BIN, "DorvexTwain.ds")))
        self.assertEqual(sorted(os.listdir(self.target)), ["DorvexTwain.ds", "uninstall.exe"])
        entry = self.query(UNINSTALL_KEY)
        self.assertIsNotNone(entry)
        uninstaller = r"C:\windows\twain_32\Zelmar\uninstall.exe"
        self.assertEqual(entry["DisplayName"], ("REG_SZ", "Zelmar Dorvex TWAIN source"))
        self.assertEqual(entry["DisplayVersion"], ("REG_SZ", VERSION))
        self.assertEqual(entry["Publisher"], ("REG_SZ", "Zelmar Corporation"))
        self.assertEqual(entry["Language"], ("REG_DWORD", "0x409"))
        self.assertEqual(entry["UninstallString"][1].lower(), ('"%s"' % uninstaller).lower())
        self.assertEqual(entry["QuietUninstallString"][1].lower(), ('"%s" /S' % uninstaller).lower())
        kind, size = entry["EstimatedSize"]
        self.assertEqual(kind, "REG_DWORD")
        expected_kb = (os.path.getsize(installed) + os.path.getsize(os.path.join(self.target, "uninstall.exe"))) // 1024
        self.assertLessEqual(abs(int(size, 16) - expected_kb), 2, entry)
        for name, value in sorted(entry.items()):
            print("  %s = %s" % (name, value[1]))

    def test_3_acquire_finds_and_opens_the_installed_source(self):
        status, text = self.acquire_with_camera(os.path.join(BIN, "acquire.exe"))
        self.assertEqual(status, 0, text)
        self.assertIn("  Zelmar Dorvex (Zelmar Corporation, 1.00J - Nov.1997)", text)
        self.assertIn("Source: Zelmar Dorvex", text)
        self.assertIn("Camera connected", text)
        self.assertIn("Session closed", text)

    def test_4_a_second_install_keeps_the_settings(self):
        self.reg(["add", PROFILE, "/v", "BaudRate", "/t", "REG_DWORD", "/d", "3", "/f"])
        self.reg(["add", PROFILE, "/v", "ComPort", "/t", "REG_DWORD", "/d", "2", "/f"])
        # The installed copy is an older one, and read-only (Wine keeps the attribute in the file
        # mode): it is replaced all the same, now.
        installed = os.path.join(self.target, "DorvexTwain.ds")
        with open(installed, "ab") as f:
            f.write(b"older copy")
        os.chmod(installed, 0o444)
        # This time under a Japanese user language: the installer speaks Japanese.
        status, text = self.install("/WINE", env=dict(self.env, LC_ALL="ja_JP.UTF-8"))
        self.assertEqual(status, 0, text)
        self.assertTrue(read(installed) == read(os.path.join(BIN, "DorvexTwain.ds")), "the older copy stayed")
        self.assertEqual(self.query(UNINSTALL_KEY)["Language"], ("REG_DWORD", "0x411"))
        settings = self.query(PROFILE)
        self.assertEqual(settings["BaudRate"], ("REG_DWORD", "0x3"))
        self.assertEqual(settings["ComPort"], ("REG_DWORD", "0x2"))
        # The Wine component, chosen this time: the manager and its text, in a folder of their own.
        wine_dir = os.path.join(self.target, "Wine")
        self.assertEqual(sorted(os.listdir(wine_dir)), ["TWAIN_32.DLL", "Wine.txt"])
        self.assertTrue(read(os.path.join(wine_dir, "TWAIN_32.DLL")) == read(os.path.join(BIN, "TWAIN_32.DLL")))
        self.assertIn("WINEDLLOVERRIDES", read(os.path.join(wine_dir, "Wine.txt")).decode("utf-8"))
        self.assertEqual(self.query(UNINSTALL_KEY)["DisplayVersion"], ("REG_SZ", VERSION))
        # Nothing left half-way: no staged copies beside the files.
        leftovers = [n for _, _, names in os.walk(self.target) for n in names if n.endswith(".new")]
        self.assertEqual(leftovers, [])

    def test_5_a_loaded_source_is_replaced_at_restart(self):
        installed = os.path.join(self.target, "DorvexTwain.ds")
        fresh = read(os.path.join(BIN, "DorvexTwain.ds"))
        # An older copy (the same code with bytes after its end) that an application has loaded:
        # with no camera on COM1 the source's question waits, keeping the library loaded.
        with open(installed, "ab") as f:
            f.write(b"older copy")
        link = os.path.join(self.ports, "com1")
        if os.path.lexists(link):
            os.remove(link)
        app_out = os.path.join(self.work, "loaded.out")
        with open(app_out, "w") as out:
            app = subprocess.Popen(["wine", os.path.join(BIN, "acquire.exe"), "--auto", "--timeout", "60"],
                                   env=self.env, stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT)
        try:
            deadline = time.time() + 60
            while "Source enabled" not in read(app_out).decode(errors="replace") and time.time() < deadline:
                self.assertIsNone(app.poll(), read(app_out))
                time.sleep(0.2)
            self.assertIn("Source enabled", read(app_out).decode(errors="replace"))
            status, text = self.install()
            # ERROR_SUCCESS_REBOOT_REQUIRED; Wine hands Linux only its low 8 bits.
            self.assertEqual(status, 3010 & 0xFF, text)
            self.assertTrue(read(installed).endswith(b"older copy"), "the loaded file was changed")
        finally:
            app.terminate()
            try:
                app.wait(timeout=30)
            except subprocess.TimeoutExpired:
                app.kill()
                app.wait()
        # Wine's restart carries out the renames Windows would do at boot.
        subprocess.run(["wineboot", "-r"], env=self.env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=120, check=True)
        self.assertTrue(read(installed) == fresh, "the source was not replaced at the restart")
        self.assertFalse(os.path.exists(installed + ".new"))
        self.assertEqual(self.query(PROFILE)["BaudRate"], ("REG_DWORD", "0x3"))

    def test_6_the_quiet_uninstall_removes_everything_but_the_settings(self):
        command = self.query(UNINSTALL_KEY)["QuietUninstallString"][1]
        self.assertTrue(command.startswith('"'))
        program, arguments = command[1:].split('"', 1)
        status, text = self.wine([program] + arguments.split(), timeout=120)
        self.assertEqual(status, 0, text)
        # The uninstaller runs on from a copy of itself in the temporary folder (so that it can
        # delete its own file): wait for it to finish.
        deadline = time.time() + 60
        while time.time() < deadline and (os.path.exists(self.target) or self.query(UNINSTALL_KEY) is not None):
            time.sleep(0.5)
        self.assertFalse(os.path.exists(self.target), os.listdir(self.target) if os.path.exists(self.target) else "")
        self.assertIsNone(self.query(UNINSTALL_KEY))
        self.assertTrue(os.path.isdir(os.path.join(self.windows, "twain_32")))
        settings = self.query(PROFILE)
        self.assertEqual(settings["BaudRate"], ("REG_DWORD", "0x3"))
        self.assertEqual(settings["ComPort"], ("REG_DWORD", "0x2"))

    def test_7_through_its_pages_and_the_question_to_remove_the_settings(self):
        # A user at the screen: the installer's pages, then the uninstaller's, answering Yes to
        # its question about the settings.
        status, text = self.with_pages(SETUP, "no")
        self.assertEqual(status, 0, text)
        self.assertIn("Pressed: &Install", text)
        self.assertTrue(os.path.isfile(os.path.join(self.target, "DorvexTwain.ds")))
        self.assertEqual(self.query(UNINSTALL_KEY)["DisplayVersion"], ("REG_SZ", VERSION))

        # The uninstaller goes on in a copy of itself; the driver waits for that one's window.
        _, text = self.with_pages(r"C:\windows\twain_32\Zelmar\uninstall.exe", "yes")
        self.assertIn("Pressed: &Uninstall", text)
        self.assertIn("Message box: Also remove your settings of the source (port, bit rate, thumbnails)?", text)
        self.assertFalse(os.path.exists(self.target))
        self.assertIsNone(self.query(UNINSTALL_KEY))
        self.assertIsNone(self.query(PROFILE))
        self.assertIsNone(self.query(r"HKCU\Software\Zelmar"))


class Installer64(FreshPrefix):
    """The installer in a fresh 64-bit prefix: the 32-bit source goes below twain_32 and the
    64-bit build's below twain_64, where a 64-bit application finds it through the 64-bit
    manager while a 32-bit one finds the other; the quiet uninstall removes both."""
    ARCH = "win64"

    def test_both_sources_installed_found_and_removed(self):
        bin64 = os.environ["DORVEX_WIN64_BIN"]
        self.assertTrue(os.path.isfile(os.path.join(bin64, "DorvexTwain.ds")), "no 64-bit build in " + bin64)
        target64 = os.path.join(self.windows, "twain_64", "Zelmar")
        status, text = self.install()
        self.assertEqual(status, 0, text)
        self.assertEqual(sorted(os.listdir(self.target)), ["DorvexTwain.ds", "uninstall.exe"])
        self.assertTrue(read(os.path.join(self.target, "DorvexTwain.ds")) == read(os.path.join(BIN, "DorvexTwain.ds")))
        self.assertEqual(os.listdir(target64), ["DorvexTwain.ds"])
        self.assertTrue(read(os.path.join(target64, "DorvexTwain.ds")) == read(os.path.join(bin64, "DorvexTwain.ds")),
                        "twain_64 does not hold the 64-bit build's source")

        # Our 64-bit acquire.exe through our 64-bit manager beside it (TWAINDSM.DLL), then the
        # 32-bit one through TWAIN_32.DLL beside it: each finds its own source, by the usual
        # folders alone (no DORVEX_TWAIN_DIR).
        for folder, protocol in ((bin64, "2.0"), (BIN, "1.6")):
            status, text = self.acquire_with_camera(os.path.join(folder, "acquire.exe"))
            self.assertEqual(status, 0, text)
            self.assertIn("  Zelmar Dorvex (Zelmar Corporation, 1.00J - Nov.1997)", text)
            self.assertIn("  Protocol: " + protocol, text)
            self.assertIn("Camera connected", text)
            self.assertIn("Session closed", text)

        # The uninstall entry lives in the 32-bit view of the registry (the installer is a
        # 32-bit program); its quiet command removes both sources.
        key = UNINSTALL_KEY.replace("Software", r"Software\Wow6432Node", 1)
        entry = self.query(key)
        self.assertIsNotNone(entry)
        program, arguments = entry["QuietUninstallString"][1][1:].split('"', 1)
        status, text = self.wine([program] + arguments.split(), timeout=120)
        self.assertEqual(status, 0, text)
        deadline = time.time() + 60
        while time.time() < deadline and (os.path.exists(self.target) or os.path.exists(target64) or
                                          self.query(key) is not None):
            time.sleep(0.5)
        self.assertFalse(os.path.exists(self.target))
        self.assertFalse(os.path.exists(target64))
        self.assertIsNone(self.query(key))
        self.assertTrue(os.path.isdir(os.path.join(self.windows, "twain_64")))


class FoundLater(unittest.TestCase):
    """A build tree made before packages it needs were installed: ./run configures it again once
    they are (here its configuration failed for want of python3), and the installer step finds a
    makensis that appeared after the tree was configured (a stand-in, on PATH)."""

    def test_tools_installed_after_the_tree_was_made(self):
        root = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
        work = tempfile.mkdtemp(prefix="dorvex_found_later_")
        try:
            tree, farm, later = (os.path.join(work, name) for name in ("tree", "bin", "later"))
            os.makedirs(farm)
            os.makedirs(later)
            # The machine's programs without python3 and makensis; "later" is where they appear.
            for folder in os.environ["PATH"].split(os.pathsep):
                for name in os.listdir(folder) if os.path.isdir(folder) else []:
                    link = os.path.join(farm, name)
                    if not name.startswith(("python3", "makensis")) and not os.path.lexists(link):
                        os.symlink(os.path.join(folder, name), link)
            env = dict(os.environ, PATH=farm + os.pathsep + later)
            # ./run's own step, with CMake kept to PATH (not its list of the system's folders).
            configure = ["bash", "-c", 'source "$1/run" && configure "$2" -DCMAKE_TOOLCHAIN_FILE="$1/cmake/mingw-i686.cmake"'
                         ' -DCMAKE_FIND_USE_CMAKE_SYSTEM_PATH=OFF', "configure", root, tree]
            first = subprocess.run(configure, env=env, capture_output=True, text=True, timeout=600)
            self.assertNotEqual(first.returncode, 0, "configured without python3")
            self.assertIn("DORVEX_PYTHON3", first.stderr)

            os.symlink(shutil.which("python3"), os.path.join(later, "python3"))
            second = subprocess.run(configure, env=env, capture_output=True, text=True, timeout=600)
            self.assertEqual(second.returncode, 0, second.stderr)
            # Then makensis: one that writes the installer it is asked for. The release step alone
            # (dist/fast: without building its programs), with stand-ins for those.
            with open(os.path.join(later, "makensis"), "w") as f:
                f.write('#!/bin/sh\nfor a; do case "$a" in -DOUT_FILE=*) echo stand-in >"${a#-DOUT_FILE=}";; esac; done\n')
            os.chmod(os.path.join(later, "makensis"), 0o755)
            for name in ("DorvexTwain.ds", "TWAIN_32.DLL", "acquire.exe", "dorvex-diag.exe"):
                with open(os.path.join(tree, "bin", name), "w") as f:
                    f.write(name)
            made = subprocess.run(["make", "-C", tree, "dist/fast"], env=env, capture_output=True, text=True,
                                  timeout=300)
            self.assertEqual(made.returncode, 0, made.stdout + made.stderr)
            with zipfile.ZipFile(os.path.join(tree, "dist", "DorvexTwain-%s.zip" % VERSION)) as archive:
                self.assertEqual(archive.read("DorvexTwain-%s/DorvexTwain-setup.exe" % VERSION), b"stand-in\n")
        finally:
            shutil.rmtree(work, ignore_errors=True)


class RunHelp(unittest.TestCase):
    """./run without a command, or with --help, names every command it takes."""

    def test_every_command_is_listed(self):
        root = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
        script = os.path.join(root, "run")
        with open(script) as f:
            text = f.read()
        dispatch = text[text.rindex('case "${1:-}" in'):]
        commands = [arm.split(")")[0].strip() for arm in dispatch.splitlines()[1:] if ")" in arm]
        commands = [c for c in commands if c and not c.startswith(("-", "*"))]
        self.assertIn("soak", commands)
        for args, status in (([], 2), (["--help"], 0)):
            shown = subprocess.run(["bash", script] + args, capture_output=True, text=True, timeout=60)
            self.assertEqual(shown.returncode, status, shown.stderr)
            for command in commands:
                self.assertRegex(shown.stdout, r"\./run %s\b" % command, "%s missing from: %s" % (command, args))


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1] + sys.argv[5:], verbosity=2)
