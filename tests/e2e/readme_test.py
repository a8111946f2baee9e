#!/usr/bin/python3
"""The README's examples, run: each block of README.md marked `<!-- test: NAME -->`
(an HTML comment, unseen when rendered) is the indented block after it. A block of
`$ ` commands is run in bash, in one empty folder, with the Linux build as
`virushist`, and what the commands print (standard output and error) must be the
lines shown after them; other blocks are output the test makes its own way (the
sample's rows, a line, a record). The README's paths stand for systems the test
makes (CASES). The GNU parallel example needs disk images: image_test.py runs it
from here (example()). Also: the variables and exit statuses the README and the
manual page list are exactly those the code knows, and those the Windows build's
help lists. Run with Debian's /usr/bin/python3, which has python3-hivex."""
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

import timeline_test
from common import LINUX_BUILD, LINUX_EXE, ROOT, WINDOWS_EXE, locale_env, make_prefix, parse_rows, read_history
from drive_test import make_drive, software_keys
from hives import REG_DWORD, REG_SZ
from release_test import known_statuses, known_variables

README = os.path.join(ROOT, "README.md")
LOGS = os.path.join(ROOT, "samples", "logs")
PACIFIC = "Pacific Standard Time"


def example(name):
    """The indented block after `<!-- test: NAME` in the README: its lines, unindented."""
    with open(README, encoding="utf-8") as f:
        text = f.read()
    found = re.search(r"<!-- test: %s\b[^>]*-->\n\n((?:    .*\n|\n)+)" % re.escape(name), text)
    if found is None:
        raise AssertionError(f"README.md has no block marked <!-- test: {name} -->")
    return [line[4:] for line in found.group(1).rstrip("\n").split("\n")]


def commands_and_output(lines):
    """A block's `$ ` commands, as one script, and the lines shown after them."""
    script = "\n".join(line[2:] for line in lines if line.startswith("$ "))
    return script, [line for line in lines if not line.startswith("$ ")]


def run_example(name, places, cwd, env=None, edit=None):
    """Runs a command block with the README's paths (keys of places) standing for the
    test's (values), and edit (a function of the script) applied, where the README
    says to change the command; what it prints, with the test's paths said as the
    README's; and the lines shown."""
    script, shown = commands_and_output(example(name))
    if edit:
        script = edit(script)
    for readme_path, path in sorted(places.items(), key=lambda item: -len(item[0])):
        script = script.replace(readme_path, path)
    env = dict(env or locale_env(None), PATH=LINUX_BUILD + os.pathsep + os.environ["PATH"])
    done = subprocess.run(["bash", "-c", script], cwd=cwd, env=env, stdout=subprocess.PIPE,
                          stderr=subprocess.STDOUT, timeout=300)
    printed = done.stdout.decode("utf-8", "replace")
    for readme_path, path in sorted(places.items(), key=lambda item: -len(item[1])):
        printed = printed.replace(path, readme_path)
    return printed.splitlines(), shown


def sample_drive(work, name, installed=True, zone=True):
    """A stand-in mounted Windows 10 drive with the bundled sample's logs, its
    short date M/d/yyyy and its time zone Pacific, as a US machine keeps them."""
    system = {"Select": {"Current": (REG_DWORD, 2)},
              r"ControlSet002\Control\Nls\CodePage": {"ACP": (REG_SZ, "1252")},
              timeline_test.TZ_KEY: timeline_test.time_zone_values(PACIFIC, "win10")}
    software = software_keys("win10", "en_US", installed)
    software.update(timeline_test.zone_keys([PACIFIC]))
    drive = make_drive(os.path.join(work, name), "win10", "en_US", software=software, system=system,
                       default={r"Control Panel\International": {"sShortDate": (REG_SZ, "M/d/yyyy")}})
    logs = os.path.join(drive, "ProgramData", "Corvessa", "Tarvel Corporate Edition", "7.6", "logs")
    shutil.copytree(LOGS, logs)
    return drive, logs


class Readme(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix="vh-readme-")
        os.chmod(cls.work, 0o755)
        # The sample's prefix, made as scripts/run-sample makes it.
        cls.prefix = os.path.join(cls.work, "prefix")
        cls.prefix_env = locale_env(None, WINEPREFIX=cls.prefix)
        make_prefix(cls.prefix, LOGS, cls.prefix_env)
        cls.pc1, _ = sample_drive(cls.work, "pc1")
        cls.pc2, _ = sample_drive(cls.work, "pc2", installed=False)
        # pc1 again, its logs folder a link out of the drive.
        cls.linked, logs = sample_drive(cls.work, "linked")
        outside = os.path.join(cls.work, "outside")
        os.rename(logs, outside)
        os.symlink(outside, logs)

    @classmethod
    def tearDownClass(cls):
        subprocess.run(["wineserver", "-k"], env=cls.prefix_env, check=False)
        shutil.rmtree(cls.work, ignore_errors=True)

    def fresh(self, name):
        return tempfile.mkdtemp(prefix=name + "-", dir=self.work)

    def linux_run(self, env):
        cwd = self.fresh("run")
        done = subprocess.run([LINUX_EXE], cwd=cwd, env=env, capture_output=True, timeout=300)
        return done, cwd

    def test_sample_rows(self):
        # The rows shown come in this order among the rows of the sample's run.
        done, cwd = self.linux_run(self.prefix_env)
        self.assertEqual(done.returncode, 0, done.stderr)
        parse_rows(self, read_history(cwd))
        rows = read_history(cwd).decode("latin-1").split("\r\n")
        shown = example("sample-rows")
        self.assertEqual(len(shown), 4)
        at = 0
        for row in shown:
            self.assertIn(row, rows[at:], "a row the README shows is not the sample's, or not in its order")
            at = rows.index(row, at) + 1

    def test_command_blocks(self):
        places = {"exit-lines": {"/cases/pc1": self.pc1, "/cases/pc2": self.pc2,
                                 "/cases/none": os.path.join(self.work, "none")},
                  # The image stands for a drive with the same files: both give the same output.
                  "jq": {"/cases/pc1.E01": self.pc1}}
        for name, paths in places.items():
            with self.subTest(name):
                printed, shown = run_example(name, paths, self.fresh(name))
                self.assertEqual(printed, shown)

    def test_refused_line(self):
        env = locale_env(None, VIRUSHIST_SYSTEM_DRIVE=self.linked)
        done, _ = self.linux_run(env)
        self.assertEqual(done.returncode, 4, done.stderr)
        line = done.stderr.decode().replace(self.linked, "/cases/pc1").splitlines()
        self.assertEqual(line, example("refused-line"))

    def test_timeline_record(self):
        # Every field shown is the record's; the columns shown begin its columns.
        # "system" and "volume" name the README's image, which the test's drive
        # stands for.
        env = locale_env(None, VIRUSHIST_SYSTEM_DRIVE=self.pc1, VIRUSHIST_TIMELINE="-")
        done, _ = self.linux_run(env)
        self.assertEqual(done.returncode, 0, done.stderr)
        record = json.loads(done.stdout.decode().splitlines()[0])
        text = "".join(line.strip() for line in example("timeline-record"))
        self.assertTrue(text.endswith(',...]}'), text[-20:])
        shown = json.loads(text[:-len(',...]}')] + "]}")
        self.assertEqual(shown.pop("system"), "/cases/pc1.E01")
        self.assertEqual(shown.pop("volume"), "206848")
        columns = shown.pop("columns")
        self.assertEqual(record["columns"][:len(columns)], columns)
        self.assertEqual({key: record.get(key) for key in shown}, shown)

    def test_readme_and_manual_list_exactly_the_codes_variables_and_statuses(self):
        variables, statuses = known_variables(), known_statuses()
        with open(README, encoding="utf-8") as f:
            readme = f.read()
        environment = readme.split("The environment (")[1].split("\n\n")[1]
        exit_table = readme.split("## Exit status")[1].split("\n\n")[1]
        with open(os.path.join(ROOT, "docs", "virushist.1"), encoding="utf-8") as f:
            manual = f.read()
        manual_environment = manual.split(".SH ENVIRONMENT")[1].split(".SH ")[0]
        manual_statuses = manual.split(".SH EXIT STATUS")[1].split(".SH ")[0]
        lists = {"README's variables": (re.findall(r"(?m)^\| `(\w+)` \|", environment), sorted(variables)),
                 "README's statuses": ([int(n) for n in re.findall(r"(?m)^\| (\d+) \|", exit_table)], statuses),
                 "manual's variables": (re.findall(r"(?m)^\.TP\n\.B (\w+)", manual_environment), sorted(variables)),
                 "manual's statuses": ([int(n) for n in re.findall(r"(?m)^\.TP\n\.B (\d+)", manual_statuses)],
                                       statuses)}
        if os.path.isfile(WINDOWS_EXE):
            help_text = subprocess.run(["wine", WINDOWS_EXE, "/?"], env=locale_env(None), capture_output=True,
                                       text=True, timeout=120).stdout
            lists["Windows help's statuses"] = (
                [int(n) for n in re.findall(r"(?m)^  (\d) ", help_text.split("Exit status:")[1])], statuses)
        for name, (listed, known) in lists.items():
            with self.subTest(name):
                self.assertEqual(sorted(listed), sorted(known))


if __name__ == "__main__":
    result = unittest.main(exit=False, verbosity=2).result
    failed = len(result.failures) + len(result.errors)
    print(f"{result.testsRun - failed} passed, {failed} failed")
    sys.exit(1 if failed else 0)
