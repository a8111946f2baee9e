#!/usr/bin/python3
"""Hostile evidence, end to end, with the Linux build: what an attacker who
controls the evidence would craft, each a case of one table stating its exit
status and the words of its line. No case may hang, no byte of a file outside the
evidence may reach an output, and no file outside the outputs may change. Then
a reader taken over by a bug (a library preloaded into the run) trying what an
exploit would; the reader's confinement itself: its /proc status, descriptors and
limits in a held run; and a trace showing no byte of an image read before it
confines itself.
Run with Debian's /usr/bin/python3, which has python3-hivex."""
import os
import re
import resource
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import unittest

import images
from common import LINUX_BUILD, LINUX_EXE, check_no_sanitizer_report, fresh_folder, locale_env, parse_rows, read_history
from drive_test import LAYOUTS, host, install, log_line, make_drive

SECRET = "HostSecret7f3a"  # the rows of every file outside the evidence
# A reader taken over by a bug: preloaded, it acts once the reader is confined.
TAKEN_OVER = os.path.join(LINUX_BUILD, "tests", "libtaken_over_reader.so")


def sanitized():
    """Whether the build under test has a sanitizer's run-time."""
    with open(os.path.join(LINUX_BUILD, "CMakeCache.txt")) as f:
        return "VH_SANITIZE:BOOL=ON" in f.read()
# The most any file a run writes may hold, a reader's copy of a hive in memory
# among them: past it the kernel ends the process (SIGXFSZ).
MAX_FILE_SIZE = 256 * images.MIB
PRODUCT = "drive_c/ProgramData/Corvessa/Tarvel Corporate Edition"
SYSTEM_REG = ('WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n#arch=win64\n\n'
              '[Software\\\\Wow6432Node\\\\Ordvane\\\\Pellmoor\\\\Scarnel6\\\\CurrentVersion] 1600000000\n'
              '"Home Directory"="%s"\n')
USER_REG = "WINE REGISTRY Version 2\n;; All keys relative to \\\\User\\\\S-1-5-21-0-0-0-1000\n\n#arch=win64\n"


def virus(name):
    return log_line(r"C:\Data\%s.doc" % name, name).encode()


def filler(count):
    """Lines that are no virus event: timeline records, no rows."""
    return b"".join(b"1F0004090000,2,0,1,PC01,alice,,C:\\f%05d,,,,,,,,,,,,,,,,,,,,,,,,,\r\n" % i
                    for i in range(count))


def make_light_prefix(root, home=r"C:\\Program Files\\Tarvel", logs=None):
    """What the Linux build reads of a prefix: its registry files and drive C:."""
    os.makedirs(os.path.join(root, "dosdevices"))
    os.symlink("../drive_c", os.path.join(root, "dosdevices", "c:"))
    with open(os.path.join(root, "system.reg"), "w") as f:
        f.write(SYSTEM_REG % home)
    with open(os.path.join(root, "user.reg"), "w") as f:
        f.write(USER_REG)
    folder = os.path.join(root, PRODUCT, "7.6", "logs")
    os.makedirs(folder)
    for name, data in (logs or {"a.log": virus("Inside")}).items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)
    return root


def reader_of(pid):
    """The reader: the writer's one child, once there is one."""
    deadline = time.monotonic() + 30
    while time.monotonic() < deadline:
        try:
            with open(f"/proc/{pid}/task/{pid}/children") as f:
                children = f.read().split()
        except FileNotFoundError:
            children = []
        if children:
            return int(children[0])
        time.sleep(0.02)
    raise AssertionError("no reader")


def status_of(pid):
    with open(f"/proc/{pid}/status") as f:
        fields = dict(line.split(":", 1) for line in f if ":" in line)
    return {name: fields[name].strip() for name in ("CapEff", "NoNewPrivs", "Seccomp")}


class Hostile(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix="vh-hostile-")
        cls.outside = os.path.join(cls.work, "outside")
        os.makedirs(cls.outside)
        cls.secret = os.path.join(cls.outside, "secret.log")
        with open(cls.secret, "wb") as f:
            f.write(virus(SECRET))
        cls.victim = os.path.join(cls.outside, "victim.conf")
        with open(cls.victim, "w") as f:
            f.write("victim\n")
        cls.prefix = make_light_prefix(os.path.join(cls.work, "prefix"))
        cls.drive = make_drive(cls.work, "win10", "en_US")
        install(cls.drive, "win10", "en_US")
        cls.drive_logs = os.path.relpath(
            os.path.join(host(cls.drive, LAYOUTS["win10"]), "Corvessa", "Tarvel Corporate Edition", "7.6", "logs"),
            cls.drive)
        # Another case's disk, beside this one's: an image of the same drive.
        other = fresh_folder(os.path.join(cls.work, "other-case"))
        cls.other_image = images.ntfs_volume(os.path.join(other, "disk.img"), 16, source=cls.drive)
        # The analyst's home, as HOME names it: a key in a hidden folder, documents.
        cls.home = os.path.join(cls.work, "home", "analyst")
        os.makedirs(os.path.join(cls.home, ".ssh"))
        with open(os.path.join(cls.home, ".ssh", "id_ed25519"), "wb") as f:
            f.write(virus(SECRET))

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.work, ignore_errors=True)

    def copy(self, root, name):
        target = os.path.join(self.work, "cases", name)
        shutil.copytree(root, target, symlinks=True)
        return target

    def run_case(self, env, cwd, timeout=60):
        limit = lambda: resource.setrlimit(resource.RLIMIT_FSIZE, (MAX_FILE_SIZE, MAX_FILE_SIZE))
        done = subprocess.run([LINUX_EXE], cwd=cwd, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                              timeout=timeout, preexec_fn=limit)
        check_no_sanitizer_report(self, done.stderr, env)
        return done

    # The cases: each makes its system from a copy, and says what the run must come to.

    def prefix_case(self, name, change):
        prefix = self.copy(self.prefix, name)
        change(prefix)
        return dict(WINEPREFIX=prefix)

    def drive_case(self, name, change):
        drive = self.copy(self.drive, name)
        change(drive)
        return dict(VIRUSHIST_SYSTEM_DRIVE=drive)

    def image_case(self, name, change):
        """An NTFS image of a copy of the drive, changed through its mount."""
        drive = self.copy(self.drive, name)
        image = images.ntfs_volume(os.path.join(self.work, "cases", name + ".img"), 32, source=drive)
        with images.mounted_ntfs(image) as mount:
            change(mount)
        return dict(VIRUSHIST_SYSTEM_DRIVE=image)

    def qcow_case(self, name, backing):
        folder = fresh_folder(os.path.join(self.work, "cases", name))
        image = os.path.join(folder, "disk.qcow2")
        subprocess.run(["qemu-img", "create", "-q", "-f", "qcow2", "-u", "-F", "qcow2", "-b", backing, image, "16M"],
                       check=True)
        return dict(VIRUSHIST_SYSTEM_DRIVE=image)

    def cases(self):
        logs = os.path.join(PRODUCT, "7.6", "logs")
        def replace(relative, make):
            def change(root):
                path = os.path.join(root, relative)
                os.remove(path)
                make(path)
            return change
        link_to = lambda target: lambda path: os.symlink(target, path)
        add = lambda relative, make: lambda root: make(os.path.join(root, relative))
        def drive_c_elsewhere(prefix):
            elsewhere = os.path.join(self.work, "cases", "drive_c-elsewhere")
            shutil.move(os.path.join(prefix, "drive_c"), elsewhere)
            os.symlink(elsewhere, os.path.join(prefix, "drive_c"))
        def home_on(letter, target_of, home):
            def change(prefix):
                shutil.rmtree(os.path.join(prefix, PRODUCT))
                target = target_of(prefix)
                os.makedirs(os.path.join(target, "Tarvel", "logs"), exist_ok=True)
                with open(os.path.join(target, "Tarvel", "logs", "d.log"), "wb") as f:
                    f.write(virus("OnD"))
                os.symlink(target if letter != "z" else "/", os.path.join(prefix, "dosdevices", letter + ":"))
                with open(os.path.join(prefix, "system.reg"), "w") as f:
                    f.write(SYSTEM_REG % home(target).replace("\\", "\\\\"))
            return change
        outside_d = lambda prefix: fresh_folder(os.path.join(self.work, "cases", "d-drive"))
        outside_z = lambda prefix: fresh_folder(os.path.join(self.work, "cases", "z-target"))
        def home_case(name, letter, target_of):
            env = self.prefix_case(name, home_on(letter, target_of, lambda target: letter.upper() + r":\Tarvel"))
            return dict(env, HOME=self.home)
        config = os.path.join("Windows", "System32", "config")
        def split_with_link(name):
            # A whole image as the first part of a split raw image, and a second
            # part that is a link to a file of this host: read, its line would be a row.
            folder = fresh_folder(os.path.join(self.work, "cases", name))
            shutil.copyfile(self.other_image, os.path.join(folder, "disk.001"))
            os.symlink(self.secret, os.path.join(folder, "disk.002"))
            return dict(VIRUSHIST_SYSTEM_DRIVE=os.path.join(folder, "disk.001"))
        def segments_with_link(name):
            # An E01 set of the other case's image whose second segment is a
            # link to a file of this host.
            folder = fresh_folder(os.path.join(self.work, "cases", name))
            subprocess.run(["ewfacquire", "-u", "-q", "-t", os.path.join(folder, "pc"), "-f", "encase6", "-c",
                            "none", "-S", str(images.MIB), self.other_image], check=True, **images.QUIET)
            os.remove(os.path.join(folder, "pc.E02"))
            os.symlink(self.secret, os.path.join(folder, "pc.E02"))
            return dict(VIRUSHIST_SYSTEM_DRIVE=os.path.join(folder, "pc.E01"))
        def sparse_software(size, step=None):
            # The hive made a sparse file of size bytes; on an image a byte every
            # step bytes, as libtsk takes no sparse run longer than the volume.
            def change(root):
                with open(os.path.join(root, config, "SOFTWARE"), "r+b") as f:
                    for offset in range(step, size, step) if step else ():
                        f.seek(offset)
                        f.write(b"x")
                    f.truncate(size)
            return change
        # (name, environment, exit status, words of its lines, rows)
        return [
            ("user.reg a link out", self.prefix_case("user-link", replace("user.reg", link_to(self.secret))),
             7, ["user.reg", "cannot be read"], None),
            ("user.reg a FIFO", self.prefix_case("user-fifo", replace("user.reg", os.mkfifo)),
             7, ["user.reg", "not a regular file (a FIFO)"], None),
            ("user.reg /dev/zero", self.prefix_case("user-zero", replace("user.reg", link_to("/dev/zero"))),
             7, ["user.reg", "a character device"], None),
            ("system.reg a FIFO", self.prefix_case("system-fifo", replace("system.reg", os.mkfifo)),
             7, ["system.reg", "a FIFO"], None),
            ("a log that is the kernel's log device",
             self.prefix_case("log-device", add(os.path.join(logs, "zz.log"),
                                                 lambda p: os.mknod(p, 0o600 | 0o020000, os.makedev(1, 11)))),
             4, ["zz.log", "a character device, not a file"], ["Inside"]),
            ("a log that is a FIFO", self.prefix_case("log-fifo", add(os.path.join(logs, "zz.log"), os.mkfifo)),
             4, ["zz.log", "a FIFO, not a file"], ["Inside"]),
            ("a log linked out", self.prefix_case("log-link", add(os.path.join(logs, "zz.log"), link_to(self.secret))),
             4, ["zz.log: not read (outside the system's folders: "], ["Inside"]),
            ("drive_c a link elsewhere", self.prefix_case("drive_c-link", drive_c_elsewhere), 0, [], ["Inside"]),
            ("the home directory on a D: outside the prefix",
             self.prefix_case("home-on-d", home_on("d", outside_d, lambda target: r"D:\Tarvel")), 0, [], ["OnD"]),
            ("the home directory through Z:, the host's root",
             self.prefix_case("home-on-z", home_on("z", outside_z, lambda target: "Z:" + target.replace("/", "\\")
                                                   + r"\Tarvel")),
             4, [r"\Tarvel\logs", "outside the system's folders"], []),
            ("the home directory on a D: that is the user's home", home_case("home-is-d", "d", lambda p: self.home),
             4, [r"D:\Tarvel\logs", "outside the system's folders"], []),
            ("the home directory on a D: in a hidden folder of the user's home",
             home_case("hidden-d", "d", lambda p: fresh_folder(os.path.join(self.home, ".config", "wine-d"))),
             4, [r"D:\Tarvel\logs", "outside the system's folders"], []),
            ("an E01 segment a link out", segments_with_link("segment-link"), 7, [], None),
            # (a sanitizer build keeps the reader's standard error, where afflib says
            # what it could not open)
            *([("a split raw image's part a link out", split_with_link("split-link"), 7, ["disk.001"], None)]
              if not sanitized() else []),
            ("SYSTEM a link out", self.drive_case("hive-link", replace(os.path.join(config, "SYSTEM"),
                                                                          link_to(self.secret))),
             7, ["SYSTEM", "unreadable"], None),
            ("SYSTEM a FIFO", self.drive_case("hive-fifo", replace(os.path.join(config, "SYSTEM"), os.mkfifo)),
             7, ["SYSTEM", "not a regular file (a FIFO)"], None),
            ("SYSTEM /dev/zero", self.drive_case("hive-zero", replace(os.path.join(config, "SYSTEM"),
                                                                         link_to("/dev/zero"))),
             7, ["SYSTEM", "a character device"], None),
            ("SOFTWARE a sparse 3 GiB file", self.drive_case("hive-sparse", sparse_software(3 << 30)),
             7, ["SOFTWARE: the registry hive is larger than 2 GiB"], None),
            ("SOFTWARE a sparse 3 GiB file in a 32 MiB image",
             self.image_case("hive-sparse-image", sparse_software(3 << 30, 16 * images.MIB)),
             7, ["SOFTWARE: the registry hive is larger than 2 GiB"], None),
            ("a drive's logs folder linked out",
             self.drive_case("logs-link", lambda drive: (shutil.rmtree(os.path.join(drive, self.drive_logs)),
                                                         os.symlink(self.outside, os.path.join(drive, self.drive_logs)))),
             4, [r"7.6\logs", "outside the system's folders"], []),
            ("a QCOW2 backing file named absolute", self.qcow_case("qcow-absolute", self.secret),
             7, ["secret.log is missing", "beside the image"], None),
            ("a QCOW2 backing file named with ..", self.qcow_case("qcow-dotdot", "../../other-case/disk.img"),
             7, ["../../other-case/disk.img is missing", "beside the image"], None),
            ("a QCOW2 overlay on another case's image", self.qcow_case("qcow-other-case", self.other_image),
             7, ["disk.img is missing"], None),
        ]

    def test_each_case_has_its_outcome(self):
        for name, env, status, words, rows in self.cases():
            with self.subTest(case=name):
                cwd = fresh_folder(os.path.join(self.work, "run", name.replace(" ", "-").replace("/", "-")))
                full = locale_env(None, VIRUSHIST_TIMELINE="timeline.jsonl", **env)
                full.setdefault("WINEPREFIX", os.path.join(self.work, "no-prefix"))
                done = self.run_case(full, cwd)
                stderr = done.stderr.decode("utf-8", "replace")
                self.assertEqual(done.returncode, status, stderr)
                for word in words:
                    self.assertIn(word, stderr)
                if rows is not None:
                    self.assertEqual([row[2] for row in parse_rows(self, read_history(cwd))], rows)
                for output in os.listdir(cwd):
                    with open(os.path.join(cwd, output), "rb") as f:
                        self.assertNotIn(SECRET.encode(), f.read(), output)
                self.assertNotIn(SECRET.encode(), done.stdout + done.stderr)
                with open(self.victim) as f:
                    self.assertEqual(f.read(), "victim\n")

    def test_a_reader_taken_over_reaches_nothing_of_the_analysts(self):
        # Code an exploit would run, once the reader is confined: what it tries,
        # the run's status, the words it gets said (through the writer, as text).
        # Standard input holds what the analyst typed ahead; standard error is a
        # log appended to. No escape, no secret, no earlier line overwritten.
        beside = fresh_folder(os.path.join(self.work, "cases", "beside"))
        image = os.path.join(beside, "pc1.img")
        shutil.copyfile(self.other_image, image)
        notes = os.path.join(beside, "notes.txt")
        with open(notes, "wb") as f:
            f.write(virus(SECRET))
        os.symlink(self.secret, os.path.join(beside, "base.qcow2"))
        drives = self.copy(self.prefix, "drives-home-etc")
        os.symlink(self.home, os.path.join(drives, "dosdevices", "d:"))
        os.symlink("/etc", os.path.join(drives, "dosdevices", "e:"))
        os.symlink("../..", os.path.join(drives, "dosdevices", "f:"))  # the case folder around it
        key = os.path.join(self.home, ".ssh", "id_ed25519")
        # (name, system, what it tries, exit status, words)
        cases = [
            ("escapes, typed-ahead keys, standard error's flags", dict(WINEPREFIX=self.prefix), "escape",
             0, ["taken over: typed ahead: []"]),
            ("a file beside the image", dict(VIRUSHIST_SYSTEM_DRIVE=image), "read:" + notes,
             0, [notes + " refused (Permission denied)"]),
            ("the image's folder", dict(VIRUSHIST_SYSTEM_DRIVE=image), "read:" + beside,
             0, [beside + " refused (Permission denied)"]),
            ("a link beside the image, asked of the writer", dict(VIRUSHIST_SYSTEM_DRIVE=image), "ask:base.qcow2",
             0, ["taken over: asked for base.qcow2: none []"]),
            ("the home, /etc and the case folder as a prefix's drives", dict(WINEPREFIX=drives, HOME=self.home),
             "read:%s,read:/etc/hostname,read:%s" % (key, notes), 0,
             [key + " refused", "/etc/hostname refused", notes + " refused"]),
            ("memory and a file in memory", dict(WINEPREFIX=self.prefix), "limits",
             0, ["1 TiB mapped: Cannot allocate memory", "grew to 2048 MiB (File too large)"]),
            ("a refused call", dict(WINEPREFIX=self.prefix), "refused",
             4, [": the sandbox refused system call 41\n"]),
            ("a reader that lingers after its last frame", dict(WINEPREFIX=self.prefix), "linger",
             4, ["the reader ended after its last frame (it did not exit within 10 seconds, and was killed)"]),
            # (a sanitizer reports the fault and aborts)
            ("a crash", dict(WINEPREFIX=self.prefix), "crash",
             4, ["the reader ended before it was done (killed by signal %s); the run is incomplete"
                 % ("6 (SIGABRT)" if sanitized() else "11 (SIGSEGV)")]),
        ]
        for name, system, tries, status, words in cases:
            # A sanitizer build keeps the reader's standard error for its reports.
            if tries == "escape" and sanitized():
                continue
            with self.subTest(case=name):
                cwd = fresh_folder(os.path.join(self.work, "run", "taken-" + name.split()[0].strip(",")))
                typed = os.path.join(cwd, "..", "typed-" + name.split()[0].strip(","))
                with open(typed, "wb") as f:
                    f.write(SECRET.encode() + b" typed ahead\n")
                log = os.path.join(cwd, "..", "stderr-" + name.split()[0].strip(","))
                with open(log, "wb") as f:
                    f.write(b"an earlier line\n")
                env = locale_env(None, LD_PRELOAD=TAKEN_OVER, VH_TAKEN_OVER=tries, **system)
                env["ASAN_OPTIONS"] = env.get("ASAN_OPTIONS", "") + ":verify_asan_link_order=0"
                with open(typed, "rb") as stdin, open(log, "ab") as stderr:
                    done = subprocess.run([LINUX_EXE], cwd=cwd, env=env, stdin=stdin, stdout=subprocess.PIPE,
                                          stderr=stderr, timeout=120)
                with open(log, "rb") as f:
                    said = f.read()
                self.assertEqual(done.returncode, status, said)
                self.assertTrue(said.startswith(b"an earlier line\n"), said)
                for word in words:
                    self.assertIn(word.encode(), said)
                for never in (b"\x1b", b"\x07", b"OVERWRITTEN", SECRET.encode()):
                    self.assertNotIn(never, said + done.stdout)
                for output in os.listdir(cwd):
                    with open(os.path.join(cwd, output), "rb") as f:
                        self.assertNotIn(SECRET.encode(), f.read(), output)

    def test_a_name_with_escapes_is_said_as_text(self):
        # A log whose name holds a terminal's escape (a FIFO, so that it is named):
        # its line shows "?" for each control character, confined or not.
        prefix = self.copy(self.prefix, "escape-name")
        os.mkfifo(os.path.join(prefix, PRODUCT, "7.6", "logs", "zz\x1b]0;owned\x07.log"))
        for sandbox in ("on", "off"):
            with self.subTest(sandbox=sandbox):
                cwd = fresh_folder(os.path.join(self.work, "run", "escape-name-" + sandbox))
                done = self.run_case(locale_env(None, WINEPREFIX=prefix, VIRUSHIST_SANDBOX=sandbox), cwd)
                self.assertEqual(done.returncode, 4, done.stderr)
                self.assertIn(b"zz?]0;owned?.log", done.stderr)
                self.assertNotIn(b"\x1b", done.stderr)

    def test_outputs_that_are_links(self):
        # Refused with exit 2, named, the link's target untouched; a dangling link
        # neither followed nor spun on.
        nowhere = os.path.join(self.work, "nowhere")
        for name, output, target in (("the history file a link", "VirusHist.csv", self.victim),
                                     ("the history file a dangling link", "VirusHist.csv", nowhere),
                                     ("the timeline a link", "timeline.jsonl", self.victim),
                                     ("the timeline a dangling link", "timeline.jsonl", nowhere)):
            with self.subTest(case=name):
                cwd = fresh_folder(os.path.join(self.work, "run", name.replace(" ", "-")))
                os.symlink(target, os.path.join(cwd, output))
                done = self.run_case(locale_env(None, WINEPREFIX=self.prefix, VIRUSHIST_TIMELINE="timeline.jsonl"),
                                     cwd, timeout=30)
                stderr = done.stderr.decode()
                self.assertEqual(done.returncode, 2, stderr)
                self.assertIn(output + ": cannot be created or written (it is a symbolic link", stderr)
                self.assertFalse(os.path.exists(nowhere))
                with open(self.victim) as f:
                    self.assertEqual(f.read(), "victim\n")
                self.assertEqual(sorted(os.listdir(cwd)), [output])

    def test_the_reader_holds_nothing(self):
        # Held (the writer blocks on a timeline into a pipe nobody reads yet), the
        # reader shows no capability, no new privileges and a seccomp filter, and
        # holds no socket the run inherited; the writer is as the test runner is.
        # Let go, the run writes what a run without the sandbox writes.
        prefix = make_light_prefix(os.path.join(self.work, "held"), logs={
            "a.log": virus("First") + filler(6000), "b.log": virus("Second")})
        listener = socket.create_server(("127.0.0.1", 0))
        inherited = socket.create_connection(listener.getsockname())
        cwd = fresh_folder(os.path.join(self.work, "run", "held"))
        env = locale_env(None, WINEPREFIX=prefix, VIRUSHIST_TIMELINE="-")
        process = subprocess.Popen([LINUX_EXE], cwd=cwd, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                   pass_fds=[inherited.fileno()])
        try:
            reader = reader_of(process.pid)
            deadline = time.monotonic() + 60
            while (read_history(cwd) or b"").count(b"\r\n") < 1:
                self.assertLess(time.monotonic(), deadline, "rows did not come")
                time.sleep(0.02)
            self.assertEqual(status_of(reader), {"CapEff": "0000000000000000", "NoNewPrivs": "1", "Seccomp": "2"})
            self.assertEqual(status_of(process.pid), status_of(os.getpid()))
            # /dev/null, pipes (standard error, the channel) and a log of the prefix.
            # Standard error too, but where a sanitizer keeps it for its reports.
            standard = (0, 1) if sanitized() else (0, 1, 2)
            self.assertEqual([os.readlink(f"/proc/{reader}/fd/{fd}") for fd in standard], ["/dev/null"] * len(standard))
            with open(f"/proc/{reader}/limits") as f:
                limits = {line[:26].strip(): line[26:].split()[:2] for line in f.read().splitlines()[1:]}
            self.assertEqual(limits["Max core file size"], ["0", "0"])
            self.assertEqual(limits["Max file size"], [str(2 << 30)] * 2)
            memory = limits["Max data size" if sanitized() else "Max address space"]
            self.assertNotEqual(memory[0], "unlimited")
            if not sanitized():  # (a sanitizer's data size counts terabytes it reserves)
                self.assertLess(int(memory[0]), 64 << 30)
            held = [os.readlink(f"/proc/{reader}/fd/{fd}") for fd in os.listdir(f"/proc/{reader}/fd")]
            self.assertEqual([target for target in held if not (target == "/dev/null" or target.startswith("pipe:")
                                                                 or target.startswith(prefix))], [])
        finally:
            timeline, stderr = process.communicate(timeout=120)
            inherited.close()
            listener.close()
        check_no_sanitizer_report(self, stderr)
        self.assertEqual(process.returncode, 0, stderr)
        confined = read_history(cwd)
        self.assertEqual([row[2] for row in parse_rows(self, confined)], ["First", "Second"])
        alone = subprocess.run([LINUX_EXE], cwd=fresh_folder(os.path.join(self.work, "run", "alone")),
                               env=dict(env, VIRUSHIST_SANDBOX="off"), capture_output=True, timeout=120)
        self.assertEqual((alone.returncode, alone.stdout), (0, timeline))
        self.assertEqual(read_history(os.path.join(self.work, "run", "alone")), confined)

    def test_no_byte_of_an_image_is_read_before_the_reader_is_confined(self):
        # Traced: the writer opens no file of the image (it lists the image's
        # folder for its parts' names alone); the reader reads none of its
        # descriptors on the image's files before Landlock and its filter.
        folder = fresh_folder(os.path.join(self.work, "traced"))
        image = images.ntfs_volume(os.path.join(folder, "volume.img"), 16, source=self.drive)
        trace = os.path.join(self.work, "trace")
        done = subprocess.run(["strace", "-f", "-o", trace, "-e",
                               "trace=openat,read,pread64,landlock_restrict_self,seccomp"]
                              + [LINUX_EXE], cwd=fresh_folder(os.path.join(self.work, "run", "traced")),
                              # (a leak check cannot stop a traced process's threads)
                              env=dict(locale_env(None, VIRUSHIST_SYSTEM_DRIVE=image), ASAN_OPTIONS="detect_leaks=0"),
                              capture_output=True, timeout=300)
        self.assertEqual(done.returncode, 0, done.stderr)
        with open(trace) as f:
            calls = [line.split(None, 1) for line in f.read().splitlines()]
        writer = calls[0][0]
        evidence = {}   # pid: descriptors open on the image's folder
        confined = {}   # pid: Landlock and the filter both in place
        reads = 0
        for pid, call in calls:
            opened = re.match(r'openat\(\w+, "([^"]*)".*= (\d+)$', call)
            if opened and opened.group(1).startswith(folder) and "O_DIRECTORY" not in call:
                self.assertNotEqual(pid, writer, "the writer opened " + call)
                evidence.setdefault(pid, set()).add(opened.group(2))
            if call.startswith("landlock_restrict_self"):
                confined[pid] = "landlock"
            if call.startswith("seccomp(SECCOMP_SET_MODE_FILTER") and confined.get(pid) == "landlock":
                confined[pid] = "both"
            read = re.match(r"p?read(?:64)?\((\d+),", call)
            if read and read.group(1) in evidence.get(pid, ()):
                self.assertEqual(confined.get(pid), "both", "read before confinement: " + call)
                reads += 1
        self.assertGreater(reads, 0)


if __name__ == "__main__":
    result = unittest.main(exit=False, verbosity=2).result
    failed = len(result.failures) + len(result.errors)
    print(f"{result.testsRun - failed} passed, {failed} failed")
    sys.exit(1 if failed else 0)
