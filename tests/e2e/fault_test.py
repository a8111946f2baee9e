#!/usr/bin/env python3
"""Faults and bad input, end to end: the Linux build, and the Windows build under
Wine where Wine can produce the fault. Each case states the rows, the file and the
exit status it expects. Faults "during the run" are timed by holding the run while
the test changes the history file: under Wine with a log that is a named pipe, which
the export blocks reading; the Linux build reads no pipe, and is held by its writer
blocking on a timeline into a pipe the test reads later."""
import os
import pwd
import random
import resource
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

from common import (COMMANDS, KEY, LINUX_BUILD, WINDOWS32, PRODUCT, check_no_sanitizer_report, fresh_folder,
                    make_prefix, old_history, parse_rows, prefix_env, read_history,
                    set_registry, require_windows_builds, WINDOWS_EXE, WINDOWS_EXE32)

SHELL_FOLDERS = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Explorer\User Shell Folders"
IS_ROOT = os.geteuid() == 0
NOBODY = 65534
# The builds the cases on the registry and the data folder run: the 32-bit
# executable too, where this machine runs 32-bit Wine.
REGISTRY_PLATFORMS = tuple(COMMANDS) + tuple(WINDOWS32)



def setUpModule():
    require_windows_builds(WINDOWS_EXE, *([WINDOWS_EXE32] if WINDOWS32 else []))

def virus_line(name):
    """A virus event whose row has name as its file name."""
    return ("1F0B190E1E00,5,0,1,PC01,alice,Test.Virus,C:\\Data\\%s,5,1,5,256,0,\"\","
            ",,,,,,,,,0,0,,20011225.001,,,,,,\r\n" % name).encode()


def filler(count):
    """Lines of no virus event: timeline records, no rows."""
    return b"".join(b"1F0B190E1E00,2,0,1,PC01,alice,,C:\\f%05d,,,,,,,,,,,,,,,,,,,,,,,,,\r\n" % i
                    for i in range(count))


def names(rows):
    return [row[1] for row in rows]


class Faults(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix="vh-faults-")
        os.chmod(cls.work, 0o755)  # a run as nobody must reach its folders
        cls.prefix = os.path.join(cls.work, "prefix")
        cls.env = prefix_env(cls.prefix)
        seed = fresh_folder(os.path.join(cls.work, "seed"))
        with open(os.path.join(seed, "seed.log"), "wb") as f:
            f.write(virus_line("seed.doc"))
        make_prefix(cls.prefix, seed, cls.env)
        cls.product = os.path.join(cls.prefix, PRODUCT)
        cls.logs = os.path.join(cls.product, "7.6", "logs")

    @classmethod
    def tearDownClass(cls):
        subprocess.run(["wineserver", "-k"], env=cls.env, check=False)
        shutil.rmtree(cls.work, ignore_errors=True)

    def set_logs(self, files):
        """Makes the logs folder hold exactly these files (name: bytes)."""
        for name in os.listdir(self.logs):
            path = os.path.join(self.logs, name)
            if os.path.isdir(path) and not os.path.islink(path):
                shutil.rmtree(path)
            else:
                os.unlink(path)
        for name, data in files.items():
            with open(os.path.join(self.logs, name), "wb") as f:
                f.write(data)

    def start(self, platform, args=(), before=None, env=None, stdout=subprocess.DEVNULL, **popen):
        cwd = fresh_folder(os.path.join(self.work, "run-" + platform))
        if before:
            before(cwd)
        process = subprocess.Popen(dict(COMMANDS, **WINDOWS32)[platform] + list(args), cwd=cwd, env=env or self.env,
                                   stdout=stdout, stderr=subprocess.PIPE, **popen)
        return process, cwd

    def finish(self, platform, process, cwd, timeout=600):
        _, stderr = process.communicate(timeout=timeout)
        if platform == "linux":
            check_no_sanitizer_report(self, stderr)
        self.stderr = stderr.decode("utf-8", "replace")  # of the last run, for its lines
        return process.returncode, read_history(cwd)

    def run_export(self, platform, args=(), before=None, **popen):
        """(exit status, VirusHist.csv bytes or None) of one run in a fresh folder."""
        process, cwd = self.start(platform, args, before, **popen)
        return self.finish(platform, process, cwd)

    def on_each_platform(self, check, platforms=tuple(COMMANDS)):
        """check(platform) for each build, each its own subtest."""
        for platform in platforms:
            with self.subTest(platform=platform):
                check(platform)

    # The run goes on while the history file changes under it.

    def open_pipe_log(self, name):
        """A named pipe in the logs folder, held open by the test: the export's reads
        wait for what the test writes, and end when the test closes it. (Opened for
        reading and writing, which Linux allows without a reader.)"""
        path = os.path.join(self.logs, name)
        os.mkfifo(path)
        return os.open(path, os.O_RDWR)

    def wait_for_rows(self, cwd, count):
        deadline = time.monotonic() + 60
        while (read_history(cwd) or b"").count(b"\r\n") < count:
            self.assertLess(time.monotonic(), deadline, "rows did not come")
            time.sleep(0.02)

    def start_held(self, platform, env):
        """A run that has written rows r0 to r2 and waits, with r3 and r4 to come:
        (process, cwd, what lets it go on)."""
        rows = b"".join(virus_line("r%d.doc" % i) for i in range(3))
        if platform == "linux":
            # More than a piece of records (1 MiB) after the rows: the writer blocks
            # writing them into the pipe until the test reads it.
            self.set_logs({"a.log": rows + filler(6000), "b.log": virus_line("r3.doc") + virus_line("r4.doc")})
            process, cwd = self.start(platform, env=dict(env, VIRUSHIST_TIMELINE="-"), stdout=subprocess.PIPE)
            self.wait_for_rows(cwd, 3)
            return process, cwd, lambda: None
        self.set_logs({})
        fd = self.open_pipe_log("live.log")
        process, cwd = self.start(platform, env=env)
        os.write(fd, rows)
        self.wait_for_rows(cwd, 3)
        def go_on():
            os.write(fd, virus_line("r3.doc") + virus_line("r4.doc"))
            os.close(fd)
        return process, cwd, go_on

    def change_history_during_run(self, platform, change, env=None):
        """Three rows, then change(path of VirusHist.csv), then two more lines."""
        process, cwd, go_on = self.start_held(platform, env or self.env)
        change(os.path.join(cwd, "VirusHist.csv"))
        go_on()
        return self.finish(platform, process, cwd) + (cwd,)

    def test_deleted_during_run(self):
        # The next row creates the file again, holding that row and the next.
        def check(platform):
            status, data, _ = self.change_history_during_run(platform, os.remove)
            self.assertEqual(status, 0)
            self.assertEqual(names(parse_rows(self, data)), ["r3.doc", "r4.doc"])
        self.on_each_platform(check)

    def test_folder_takes_the_name_during_run(self):
        # The rows after it are lost; the run completes and says so.
        def folder_in_place(path):
            os.remove(path)
            os.mkdir(path)
        def check(platform):
            status, _, cwd = self.change_history_during_run(platform, folder_in_place)
            self.assertEqual(status, 4)
            self.assertTrue(os.path.isdir(os.path.join(cwd, "VirusHist.csv")))
        self.on_each_platform(check)

    def test_second_run_in_the_same_folder_touches_nothing(self):
        # A run holds the history file and the timeline to its end: another started
        # in the same folder meanwhile ends with exit 2 and one line, and the first
        # writes every row. (The Linux build is held by a timeline on standard
        # output, which no run holds.)
        env = dict(self.env, VIRUSHIST_TIMELINE="timeline.jsonl")
        def check(platform):
            first, cwd, go_on = self.start_held(platform, env)
            timeline_file = os.path.join(cwd, "timeline.jsonl")
            timeline = b""
            if platform != "linux":
                with open(timeline_file, "rb") as f:
                    timeline = f.read()
            history = read_history(cwd)
            second = subprocess.run(COMMANDS[platform], cwd=cwd, env=env, capture_output=True, timeout=120)
            self.assertEqual(second.returncode, 2)
            self.assertEqual(second.stderr.decode().strip().count("\n"), 0, second.stderr)
            self.assertIn(b"another run", second.stderr)
            self.assertEqual(read_history(cwd), history)
            go_on()
            status, data = self.finish(platform, first, cwd)
            self.assertEqual(status, 0)
            self.assertEqual(names(parse_rows(self, data)), ["r%d.doc" % i for i in range(5)])
            if platform != "linux":
                with open(timeline_file, "rb") as f:
                    whole = f.read()
                self.assertTrue(whole.startswith(timeline[:timeline.rfind(b"\n") + 1]))
                self.assertEqual(whole.count(b"\n"), 5)
        self.on_each_platform(check)

    def test_file_size_limit(self):
        # Only whole rows stay: the file is the first rows of the full export.
        # (Under Wine the limit's signal ends the process: Wine does not ignore it.)
        self.set_logs({"many.log": b"".join(virus_line("n%03d.doc" % i) for i in range(300))})
        status, full = self.run_export("linux")
        self.assertEqual(status, 0)
        limit = 10000
        self.assertGreater(len(full), limit)

        def limit_file_size():
            resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))
        status, data = self.run_export("linux", preexec_fn=limit_file_size)
        self.assertEqual(status, 4)
        self.assertTrue(data.endswith(b"\r\n"))
        self.assertEqual(data, full[:len(data)])
        self.assertGreater(len(data), limit - 200)
        parse_rows(self, data)
        # The lines say the system's reason.
        self.assertIn("VirusHist.csv: a row could not be written (File too large)", self.stderr)

    # Logs that are not what they seem.

    def test_dangling_link_and_folder_logs(self):
        # The link is listed but cannot be opened (exit 4), as on Windows; Wine leaves
        # such a link out of the search, so there the run has nothing to report. The
        # folder is skipped and nothing in it read; the logs around them are read.
        self.set_logs({"a.log": virus_line("a.doc"), "d.log": virus_line("d.doc")})
        os.symlink(os.path.join(self.work, "missing.log"), os.path.join(self.logs, "b.log"))
        os.mkdir(os.path.join(self.logs, "c.log"))
        with open(os.path.join(self.logs, "c.log", "inner.log"), "wb") as f:
            f.write(virus_line("inner.doc"))
        def check(platform):
            status, data = self.run_export(platform)
            self.assertEqual(status, 4 if platform == "linux" else 0)
            self.assertEqual(names(parse_rows(self, data)), ["a.doc", "d.doc"])
        self.on_each_platform(check)

    def test_unreadable_log(self):
        # Root reads any file: the Linux build then runs as nobody. (Wine refuses a
        # prefix that is not the user's own, so the Windows build runs only as a user.)
        self.set_logs({"a.log": virus_line("a.doc"), "u.log": virus_line("u.doc"),
                       "z.log": virus_line("z.doc")})
        os.chmod(os.path.join(self.logs, "u.log"), 0)
        def as_nobody():
            if IS_ROOT:
                os.setgid(NOBODY)
                os.setuid(NOBODY)

        def check(platform):
            status, data = self.run_export(platform, before=lambda cwd: os.chmod(cwd, 0o777),
                                           preexec_fn=as_nobody)
            self.assertEqual(status, 4)
            self.assertEqual(names(parse_rows(self, data)), ["a.doc", "z.doc"])
        self.on_each_platform(check, ["linux"] if IS_ROOT else COMMANDS)

    @unittest.skipUnless(IS_ROOT, "root's reader is refused by the mode once it gives up its capabilities")
    def test_log_refused_by_its_mode(self):
        # Another user's 0600 log: the confined reader says the mode, not the
        # sandbox's folders; without the sandbox root reads it.
        self.set_logs({"a.log": virus_line("a.doc"), "u.log": virus_line("u.doc")})
        os.chown(os.path.join(self.logs, "u.log"), 12345, 12345)
        os.chmod(os.path.join(self.logs, "u.log"), 0o600)
        status, data = self.run_export("linux")
        self.assertEqual(status, 4, self.stderr)
        self.assertEqual(names(parse_rows(self, data)), ["a.doc"])
        self.assertIn("u.log: not read (permission denied by its mode 0600 and owner uid 12345: ", self.stderr)
        self.assertIn("; run as its owner, or as root with VIRUSHIST_SANDBOX=off knowingly)", self.stderr)
        self.assertNotIn("outside the system's folders", self.stderr)
        status, data = self.run_export("linux", env=dict(self.env, VIRUSHIST_SANDBOX="off"))
        self.assertEqual(status, 0, self.stderr)
        self.assertEqual(names(parse_rows(self, data)), ["a.doc", "u.doc"])

    def test_binary_garbage(self):
        # Random bytes with virus lines among them: no crash, every row 13 fields,
        # and both builds write the same rows.
        rng = random.Random(6)
        parts = []
        for i in range(40):
            parts.append(bytes(rng.getrandbits(8) for _ in range(25000)))
            parts.append(b"\n" + virus_line("g%02d.doc" % i))
        self.set_logs({"garbage.log": b"".join(parts)})
        results = {}
        def check(platform):
            status, data = self.run_export(platform)
            self.assertEqual(status, 0)
            results[platform] = parse_rows(self, data)
            got = names(results[platform])
            for i in range(40):
                self.assertIn("g%02d.doc" % i, got)
        self.on_each_platform(check)
        # The dates of garbage lines are each platform's own; the rest is equal.
        self.assertEqual([row[1:] for row in results["linux"]],
                         [row[1:] for row in results["windows"]])

    def test_100_mb_line_without_line_feed(self):
        # The line is cut at 1 MiB and parsed; the rest is skipped (exit 4); the next
        # log is read; memory stays small.
        head = virus_line("big.doc").split(b'""')[0]
        self.set_logs({"big.log": head + b"A" * 100_000_000, "next.log": virus_line("next.doc")})
        def check(platform):
            status, data = self.run_export(platform)
            self.assertEqual(status, 4)
            self.assertEqual(names(parse_rows(self, data)), ["big.doc", "next.doc"])
        self.on_each_platform(check)
        if "asan" not in LINUX_BUILD:
            cwd = fresh_folder(os.path.join(self.work, "run-rss"))
            report = os.path.join(cwd, "rss.txt")
            subprocess.run(["/usr/bin/time", "-f", "%M", "-o", report] + COMMANDS["linux"],
                           cwd=cwd, env=self.env, check=False)
            with open(report) as f:
                self.assertLess(int(f.read().split()[-1]), 16 * 1024)  # KiB

    def test_ten_thousand_logs(self):
        self.set_logs({"f%05d.log" % i: virus_line("f%05d.doc" % i) for i in range(10000)})
        expected = ["f%05d.doc" % i for i in range(10000)]
        def check(platform):
            status, data = self.run_export(platform)
            self.assertEqual(status, 0)
            self.assertEqual(names(parse_rows(self, data)), expected)
        self.on_each_platform(check)

    def test_pattern_of_300_characters(self):
        # Exit 5; an old history file stays as it was.
        self.set_logs({"a.log": virus_line("a.doc")})
        def check(platform):
            self.assertEqual(self.run_export(platform, ["p" * 296 + ".log"], old_history),
                             (5, b"old\r\n"))
            self.assertEqual(self.run_export(platform, ["p" * 296 + ".log"]), (5, None))
        self.on_each_platform(check)

    # What the registry and the folders hold.

    def test_home_directory_lengths(self):
        # 255 characters and its zero fill the 256-byte buffer: installed. Longer
        # values do not fit: not installed, the old file untouched.
        self.set_logs({"a.log": virus_line("a.doc")})
        try:
            for length, expected in ((255, 0), (256, 1), (1000, 1)):
                set_registry(self.env, KEY, "Home Directory", "C:\\" + "h" * (length - 3))
                def check(platform):
                    status, data = self.run_export(platform, before=old_history)
                    self.assertEqual(status, expected, length)
                    if expected == 0:
                        self.assertEqual(names(parse_rows(self, data)), ["a.doc"])
                    else:
                        self.assertEqual(data, b"old\r\n")
                self.on_each_platform(check, REGISTRY_PLATFORMS)
        finally:
            set_registry(self.env, KEY, "Home Directory", "C:\\Program Files\\Tarvel")

    def test_version_folder_of_50_characters(self):
        # The whole name counts: 8.000... is above 7.6, 7.5xxx... is not.
        self.set_logs({"a.log": virus_line("a.doc")})
        high = os.path.join(self.product, "8." + "0" * 48)
        low = os.path.join(self.product, "7.5" + "x" * 47)
        try:
            for folder, name in ((high, "high.doc"), (low, "low.doc")):
                os.makedirs(os.path.join(folder, "logs"))
                with open(os.path.join(folder, "logs", "v.log"), "wb") as f:
                    f.write(virus_line(name))
            def check(platform):
                status, data = self.run_export(platform)
                self.assertEqual(status, 0)
                self.assertEqual(names(parse_rows(self, data)), ["high.doc"])
            self.on_each_platform(check, REGISTRY_PLATFORMS)
        finally:
            shutil.rmtree(high, ignore_errors=True)
            shutil.rmtree(low, ignore_errors=True)

    def test_default_user_without_backslash(self):
        # "Default User" as the last component becomes the user's name, and the data
        # folder is found below it. The Linux build's shell folders are Wine's fixed
        # defaults, so this runs on the Windows build (the Linux build's rule is
        # tested through the fake platform).
        self.set_logs({"a.log": virus_line("a.doc")})
        user = pwd.getpwuid(os.getuid()).pw_name
        users = os.path.join(self.prefix, "drive_c", "users")
        own = os.path.join(users, user, "Corvessa", "Tarvel Corporate Edition", "7.8", "logs")
        os.makedirs(own)
        os.makedirs(os.path.join(users, "Default User"), exist_ok=True)
        with open(os.path.join(own, "u.log"), "wb") as f:
            f.write(virus_line("user.doc"))
        try:
            set_registry(self.env, SHELL_FOLDERS, "Common AppData", "C:\\users\\Default User",
                         "REG_EXPAND_SZ")
            status, data = self.run_export("windows")
            self.assertEqual(status, 0)
            self.assertEqual(names(parse_rows(self, data)), ["user.doc"])
        finally:
            set_registry(self.env, SHELL_FOLDERS, "Common AppData", "%ProgramData%",
                         "REG_EXPAND_SZ")
            shutil.rmtree(os.path.join(users, user, "Corvessa"), ignore_errors=True)


if __name__ == "__main__":
    result = unittest.main(exit=False, verbosity=2).result
    failed = len(result.failures) + len(result.errors)
    print(f"{result.testsRun - failed} passed, {failed} failed")
    sys.exit(1 if failed else 0)
