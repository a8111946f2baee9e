#!/usr/bin/python3
"""A person at a terminal, end to end, with the Linux build, split and whole: under
a pseudo-terminal a run closes with one summary line (the folder searched, the
logs read, the rows, the timeline's records, what was not read, or why nothing
was found), and a long run shows its progress on one line that is gone from the
final screen; the same run with standard error into a pipe writes what it always
did, and the outputs are the same bytes. Run with Debian's /usr/bin/python3."""
import fcntl
import hashlib
import os
import pty
import re
import struct
import shutil
import subprocess
import sys
import tempfile
import threading
import termios
import time
import unittest

from common import LINUX_EXE, LOGGEN, check_no_sanitizer_report, locale_env
from hostile_test import PRODUCT, make_light_prefix, virus

LOGS = r"C:\ProgramData\Corvessa\Tarvel Corporate Edition\7.6\logs"
SPLIT_AND_WHOLE = (("split", {}), ("whole", {"VIRUSHIST_SANDBOX": "off"}))


def screen(data):
    """The lines a terminal shows after these bytes: a CR returns to the line's
    start, and what follows overwrites it."""
    lines, line, column = [], [], 0
    for ch in data.decode("utf-8", "replace"):
        if ch == "\r":
            column = 0
        elif ch == "\n":
            lines.append("".join(line).rstrip(" "))
            line, column = [], 0
        else:
            line[column:column + 1] = [ch]
            column += 1
    return lines, "".join(line).rstrip(" ")


def run(cwd, env, args=(), terminal=False, hold=0):
    """The exit status, standard error's bytes, the digest of standard output's
    (read only after hold seconds, the run stalled meanwhile) and the run's time:
    standard error into a pipe, or a pseudo-terminal."""
    start = time.monotonic()
    controller, terminal_end = pty.openpty()
    fcntl.ioctl(terminal_end, termios.TIOCSWINSZ, struct.pack("HHHH", 24, 160, 0, 0))
    process = subprocess.Popen([LINUX_EXE, *args], cwd=cwd, env=env, stdin=subprocess.DEVNULL,
                               stdout=subprocess.PIPE, stderr=terminal_end if terminal else subprocess.PIPE)
    os.close(terminal_end)
    digest = hashlib.sha256()

    def read_output():
        time.sleep(hold)
        for piece in iter(lambda: process.stdout.read(1 << 20), b""):
            digest.update(piece)

    reader = threading.Thread(target=read_output)
    reader.start()
    data = b""
    while terminal:
        try:
            piece = os.read(controller, 65536)
        except OSError:  # EIO: the last writer closed its end
            break
        if not piece:
            break
        data += piece
    os.close(controller)
    if not terminal:
        data = process.stderr.read()
    reader.join()
    status = process.wait(timeout=300)
    for stream in (process.stdout, process.stderr):
        if stream:
            stream.close()
    return status, data, digest.hexdigest(), time.monotonic() - start


def outputs(cwd):
    found = {}
    for name in ("VirusHist.csv", "timeline.jsonl"):
        path = os.path.join(cwd, name)
        if os.path.exists(path):
            with open(path, "rb") as f:
                found[name] = f.read()
    return found


class Terminal(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix="vh-terminal-")

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.work, ignore_errors=True)

    def compare(self, name, prefix, variables, args=(), hold=0):
        """Runs into a pipe and under a terminal: the terminal's final screen is the
        pipe's lines and one more; the outputs the same bytes. That line, and the
        terminal's bytes, and the run's time."""
        env = locale_env("en_US", WINEPREFIX=prefix, **variables)
        results = []
        for terminal in (False, True):
            cwd = os.path.join(self.work, name + ("-terminal" if terminal else "-pipe"))
            os.makedirs(cwd)
            status, stderr, output, seconds = run(cwd, env, args, terminal, hold)
            results.append((status, stderr, dict(outputs(cwd), output=output), seconds))
        (status, piped, written, _), (terminal_status, shown, terminal_written, seconds) = results
        check_no_sanitizer_report(self, piped, env)
        self.assertEqual(terminal_status, status, name)
        self.assertEqual(terminal_written, written, name)
        self.assertNotIn(b"\x1b", shown, name)
        lines, last = screen(shown)
        self.assertEqual(last, "", name + ": a line left unended on the screen")
        self.assertEqual(lines[:-1], piped.decode().splitlines(), name)
        self.assertTrue(lines[-1].startswith("virushist: " + prefix + ": "), lines[-1])
        return lines[-1][len("virushist: " + prefix + ": "):], shown, seconds

    def test_summary(self):
        """The summary of each outcome; a clean run into a pipe says nothing."""
        prefix = make_light_prefix(os.path.join(self.work, "prefix"),
                                   logs={"a.log": virus("One") + b"\r\n" + virus("Two") + b"\r\n"})
        os.symlink("gone.log", os.path.join(prefix, PRODUCT, "7.6", "logs", "b.log"))
        cases = (  # name, arguments, variables, the summary
            ("a log not read", (), {}, LOGS + ": 1 of 2 logs read, 2 rows written; 1 not read"),
            ("with a timeline", ("a.log",), {"VIRUSHIST_TIMELINE": "timeline.jsonl"},
             LOGS + ": 1 log read, 2 rows written, 2 timeline records"),
            ("no log matches", ("x*.log",), {}, "no log matches x*.log in " + LOGS),
            ("the folder missing", (r"old\*.log",), {}, "the logs folder " + LOGS + r"\old does not exist"),
        )
        for name, args, variables, summary in cases:
            for part, part_variables in SPLIT_AND_WHOLE:
                said, _, _ = self.compare(f"{name}, {part}".replace(" ", "-"), prefix,
                                          dict(variables, **part_variables), args)
                self.assertEqual(said, summary, f"{name}, {part}")

    def test_progress(self):
        """A run of more than a second (its timeline on standard output, read only
        after 1.5 s) shows progress lines, each ended by a CR, none left on the
        final screen; a clean run into a pipe says nothing."""
        prefix = make_light_prefix(os.path.join(self.work, "large"))
        subprocess.run([LOGGEN, "--out", os.path.join(prefix, PRODUCT, "7.6", "logs"), "--seed", "7",
                        "--bytes", "30000000", "--files", "2", "--virus-percent", "2"], check=True)
        pattern = rb"virushist: \d of 3 logs, \d+\.\d MiB read, \d+ rows, \d+ timeline records *"
        for part, part_variables in SPLIT_AND_WHOLE:
            said, shown, _ = self.compare("large-" + part, prefix, dict(part_variables, VIRUSHIST_TIMELINE="-"),
                                          hold=1.5)
            self.assertRegex(said, r"^C:\\.*\\logs: 3 logs read, \d+ rows written, \d+ timeline records$")
            progress = [piece for piece in shown.split(b"\r")[1:-1] if re.fullmatch(pattern, piece)]
            self.assertTrue(progress, part)


if __name__ == "__main__":
    result = unittest.main(exit=False, verbosity=2).result
    failed = len(result.failures) + len(result.errors)
    print(f"{result.testsRun - failed} passed, {failed} failed")
    sys.exit(1 if failed else 0)
