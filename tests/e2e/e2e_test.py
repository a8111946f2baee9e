#!/usr/bin/env python3
"""End to end: a fresh Wine prefix with the product installed; the Windows
executable under Wine and the Linux executable on the same prefix must find the
same folder, read the same logs and write the same rows."""
import csv
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

from common import (COMMANDS, KEY, LOGGEN, PRODUCT, ROOT, WINDOWS32, WINDOWS_EXE, WINDOWS_EXE32,
                    check_no_sanitizer_report, delete_registry, make_prefix, old_history, parse_rows,
                    prefix_env, read_history, require_windows_builds, set_registry)


def setUpModule():
    require_windows_builds(WINDOWS_EXE, *([WINDOWS_EXE32] if WINDOWS32 else []))


class EndToEnd(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix="vh-e2e-")
        cls.prefix = os.path.join(cls.work, "prefix")
        cls.env = prefix_env(cls.prefix)
        logs = os.path.join(cls.work, "logs")
        os.mkdir(logs)
        for name in os.listdir(os.path.join(ROOT, "samples", "logs")):
            shutil.copy(os.path.join(ROOT, "samples", "logs", name), logs)
        # A generated corpus of well over 10,000 lines beside the sample.
        subprocess.run([LOGGEN, "--out", logs, "--seed", "5", "--bytes", "4000000",
                        "--files", "3", "--virus-percent", "20", "--name-base", "40"], check=True)
        make_prefix(cls.prefix, logs, cls.env)
        cls.lines = 0
        for name in os.listdir(logs):
            with open(os.path.join(logs, name), "rb") as f:
                cls.lines += f.read().count(b"\n")

    @classmethod
    def tearDownClass(cls):
        subprocess.run(["wineserver", "-k"], env=cls.env, check=False)
        shutil.rmtree(cls.work, ignore_errors=True)

    def run_both(self, args=(), before=None):
        """Runs each executable in a folder of its own: (exit status, file bytes) each."""
        return list(self.run_each(args=args, before=before).values())

    def run_each(self, more=None, args=(), before=None):
        """Runs the Linux and the Windows executable, and those of more, each in a folder
        of its own: {name: (exit status, file bytes, standard output)}."""
        results = {}
        for name, command in dict(COMMANDS, **(more or {})).items():
            cwd = os.path.join(self.work, name)
            shutil.rmtree(cwd, ignore_errors=True)
            os.mkdir(cwd)
            if before:
                before(cwd)
            done = subprocess.run(command + list(args), cwd=cwd, env=self.env,
                                  stdout=subprocess.PIPE, stderr=subprocess.PIPE)
            if name == "linux":
                check_no_sanitizer_report(self, done.stderr, self.env)
            results[name] = (done.returncode, read_history(cwd), done.stdout)
        return results

    def rows(self, data):
        return parse_rows(self, data)

    def assert_same_rows(self, linux, windows):
        """Both builds wrote the same bytes; their rows."""
        self.assertEqual(linux, windows)
        return self.rows(linux)

    def test_highest_version_folder(self):
        (ls, linux, out), (ws, windows, _) = self.run_both()
        self.assertEqual((ls, ws), (0, 0))
        self.assertEqual(out, b"")
        rows = self.assert_same_rows(linux, windows)
        self.assertGreater(self.lines, 10000)
        self.assertGreater(len(rows), 2000)
        # Column 6 ends at its first comma; the quote it keeps is written quoted.
        self.assertEqual(rows[1][2], '"W32.Comma')
        self.assertEqual(rows[0][1:], ["report.doc", "Test.Virus", "File; Macro", "Cleaned", "PC01",
                                       "alice", "C:\\Data\\", "Cleaned", "C:\\Data\\",
                                       "Clean virus from file", "Quarantine infected file",
                                       "Manual scan"])
        self.assertEqual(rows[0][0], "12/25/2001")  # the prefix's picture M/d/yyyy

    def test_home_directory_fallback(self):
        product = os.path.join(self.prefix, PRODUCT)
        home_log = os.path.join(self.prefix, "drive_c/Program Files/Tarvel/logs/home.log")
        shutil.copy(os.path.join(ROOT, "samples/logs/00000000.log"), home_log)
        for name in ("7.5", "7.6"):
            os.rename(os.path.join(product, name), os.path.join(product, "old-" + name))
        try:
            (ls, linux, _), (ws, windows, _) = self.run_both()
        finally:
            for name in ("7.5", "7.6"):
                os.rename(os.path.join(product, "old-" + name), os.path.join(product, name))
            os.remove(home_log)
        self.assertEqual((ls, ws), (0, 0))
        rows = self.assert_same_rows(linux, windows)
        self.assertEqual(len(rows), 5)

    def test_registry_views(self):
        # The product's key in the 32-bit view (as the product writes it), in the
        # 64-bit view, or in both with other home directories: the 32-bit view wins.
        # With no version folder, the home directory's log tells which was read.
        product = os.path.join(self.prefix, PRODUCT)
        homes = {"32": "C:\\Program Files\\Tarvel", "64": "C:\\Program Files\\Tarvel64"}
        logs = {"32": "00000000.log", "64": "01012001.log"}
        for view, home in homes.items():
            folder = os.path.join(self.prefix, "drive_c", home[3:].replace("\\", "/"), "logs")
            os.makedirs(folder, exist_ok=True)
            shutil.copy(os.path.join(ROOT, "samples", "logs", logs[view]), os.path.join(folder, "home.log"))
        for name in ("7.5", "7.6"):
            os.rename(os.path.join(product, name), os.path.join(product, "old-" + name))
        try:
            results = {}
            for views in (("32",), ("64",), ("32", "64")):
                delete_registry(self.env, KEY, "Home Directory")
                for view in views:
                    set_registry(self.env, KEY, "Home Directory", homes[view], view=view)
                results[views] = self.run_each(WINDOWS32)
        finally:
            delete_registry(self.env, KEY, "Home Directory")
            set_registry(self.env, KEY, "Home Directory", homes["32"])
            for name in ("7.5", "7.6"):
                os.rename(os.path.join(product, "old-" + name), os.path.join(product, name))
            for home in homes.values():
                os.remove(os.path.join(self.prefix, "drive_c", home[3:].replace("\\", "/"), "logs", "home.log"))
        for views, runs in results.items():
            with self.subTest(views=views):
                self.assertEqual({name: status for name, (status, _, _) in runs.items()},
                                 dict.fromkeys(runs, 0))
                files = {data for _, data, _ in runs.values()}
                self.assertEqual(len(files), 1, "the builds wrote different files")
                rows = self.rows(files.pop())
                self.assertGreater(len(rows), 0)
                results[views] = rows
        self.assertEqual(results[("32", "64")], results[("32",)])
        self.assertNotEqual(results[("64",)], results[("32",)])

    def test_output_not_creatable(self):
        results = self.run_both(before=lambda cwd: os.mkdir(os.path.join(cwd, "VirusHist.csv")))
        self.assertEqual([r[0] for r in results], [2, 2])

    def test_both_builds_say_the_same_lines(self):
        # Each failure both builds can meet is said in the same words, but for the
        # system they name (the prefix; the computer).
        def said(args=(), before=None):
            lines = {}
            for name, command in COMMANDS.items():
                cwd = os.path.join(self.work, "said-" + name)
                shutil.rmtree(cwd, ignore_errors=True)
                os.mkdir(cwd)
                if before:
                    before(cwd)
                done = subprocess.run(command + list(args), cwd=cwd, env=self.env, capture_output=True)
                lines[name] = (done.returncode, [line.split(": ", 2)[2] for line in
                                                 done.stderr.decode("latin-1").splitlines()])
            return lines
        cases = {"a pattern of 300 characters": said(["p" * 300]),
                 "a pattern without room beside the logs folder": said(["p" * 230]),
                 "the history file a folder": said(before=lambda cwd: os.mkdir(os.path.join(cwd, "VirusHist.csv")))}
        delete_registry(self.env, KEY, "Home Directory")
        try:
            cases["not installed"] = said()
        finally:
            set_registry(self.env, KEY, "Home Directory", "C:\\Program Files\\Tarvel")
        for case, lines in cases.items():
            with self.subTest(case=case):
                self.assertNotEqual(lines["linux"][1], [])
                self.assertEqual(lines["linux"][0], lines["windows"][0])
                # The last line names the file and the system's own reason, in each
                # system's words.
                compared = (lambda said: said[:-1]) if case == "the history file a folder" else (lambda said: said)
                self.assertEqual(compared(lines["linux"][1]), compared(lines["windows"][1]))

    def test_pattern_argument(self):
        (ls, linux, _), (ws, windows, _) = self.run_both(["0000*.log"])
        self.assertEqual((ls, ws), (0, 0))
        self.assertEqual(len(self.assert_same_rows(linux, windows)), 5)

    def test_libreoffice_reads_the_file_back(self):
        (_, linux, _), _ = self.run_both()
        expected = self.rows(linux)
        lo = os.path.join(self.work, "lo")
        os.makedirs(lo, exist_ok=True)
        with open(os.path.join(lo, "VirusHist.csv"), "wb") as f:
            f.write(linux)
        # Every column imported as text, then written out again separated by tabs.
        text_columns = "/".join(f"{n}/2" for n in range(1, 14))
        subprocess.run(["soffice", "--headless", f"--infilter=CSV:44,34,76,1,{text_columns}",
                        "--convert-to", "csv:Text - txt - csv (StarCalc):9,34,76,1",
                        "--outdir", os.path.join(lo, "out"), os.path.join(lo, "VirusHist.csv")],
                       cwd=lo, env=dict(self.env, HOME=lo), check=True, timeout=300,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        with open(os.path.join(lo, "out", "VirusHist.csv"), newline="", encoding="latin-1") as f:
            rows = list(csv.reader(f, delimiter="\t"))
        self.assertEqual(len(rows), len(expected))
        for got, want in zip(rows, expected):
            self.assertEqual(got, want)

    @unittest.skipUnless(WINDOWS32, "32-bit Wine does not run here")
    def test_a_32_bit_prefix(self):
        # A 32-bit Windows (WINEARCH=win32) has one registry, no 32-bit view apart:
        # the 32-bit executable and the Linux build read it alike.
        prefix = os.path.join(self.work, "prefix32")
        env = dict(prefix_env(prefix), WINEARCH="win32")
        make_prefix(prefix, os.path.join(self.work, "logs"), env)
        try:
            with open(os.path.join(prefix, "system.reg")) as f:
                self.assertIn("#arch=win32", f.read())
            results = {}
            for name, command in (("linux", COMMANDS["linux"]), ("windows32", WINDOWS32["windows32"])):
                cwd = os.path.join(self.work, "run32-" + name)
                shutil.rmtree(cwd, ignore_errors=True)
                os.mkdir(cwd)
                done = subprocess.run(command, cwd=cwd, env=env, capture_output=True)
                results[name] = (done.returncode, read_history(cwd))
            self.assertEqual(results["linux"], results["windows32"])
            self.assertEqual(results["linux"][0], 0)
            self.assertGreater(len(parse_rows(self, results["linux"][1])), 0)
        finally:
            subprocess.run(["wineserver", "-k"], env=env, check=False)

    def test_not_installed(self):
        delete_registry(self.env, KEY, "Home Directory")
        try:
            results = self.run_both(before=old_history)
        finally:
            set_registry(self.env, KEY, "Home Directory", "C:\\Program Files\\Tarvel")
        self.assertEqual([r[0] for r in results], [1, 1])
        self.assertEqual([r[1] for r in results], [b"old\r\n", b"old\r\n"])

    def test_no_system_to_read(self):
        # The first run after installing, with nothing named: no ~/.wine, no
        # $WINEPREFIX, no $VIRUSHIST_SYSTEM_DRIVE; and a prefix folder without its
        # registry. There is no system to read: exit 7, one line that names the folder
        # and the two ways to name a system, the history file untouched.
        home = os.path.join(self.work, "home")
        os.makedirs(os.path.join(home, "empty-prefix"), exist_ok=True)
        base = {k: v for k, v in self.env.items() if k not in ("WINEPREFIX", "VIRUSHIST_SYSTEM_DRIVE")}
        for env, folder in ((dict(base, HOME=home), os.path.join(home, ".wine")),
                            (dict(base, HOME=home, WINEPREFIX=os.path.join(home, "empty-prefix")),
                             os.path.join(home, "empty-prefix"))):
            with self.subTest(folder=folder):
                cwd = os.path.join(self.work, "run-nothing")
                shutil.rmtree(cwd, ignore_errors=True)
                os.makedirs(cwd)
                old_history(cwd)
                done = subprocess.run(COMMANDS["linux"], cwd=cwd, env=env, capture_output=True)
                check_no_sanitizer_report(self, done.stderr)
                self.assertEqual((done.returncode, read_history(cwd)), (7, b"old\r\n"))
                message = done.stderr.decode()
                self.assertEqual(message.count("\n"), 1, message)
                for word in (folder, "WINEPREFIX", "VIRUSHIST_SYSTEM_DRIVE"):
                    self.assertIn(word, message)


if __name__ == "__main__":
    result = unittest.main(exit=False, verbosity=2).result
    failed = len(result.failures) + len(result.errors)
    print(f"{result.testsRun - failed} passed, {failed} failed")
    sys.exit(1 if failed else 0)
