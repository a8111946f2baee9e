#!/usr/bin/env python3
"""The release, tried as a user would (as root): scripts/package makes the two zips
(64-bit and 32-bit), the Debian package and their checksums; the package installs with dpkg, its
/usr/bin/virushist exports the bundled sample from a fresh prefix, and dpkg -r
removes it cleanly, and lintian accepts it with its manual page and changelog;
--help and --version answer without touching a file; the help, the manual page
and the README name every variable and exit status the code knows; the zip's
executables run under Wine from an empty folder outside the build tree and write
the same file."""
import hashlib
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest
import zipfile

from common import ROOT, WINDOWS32, WINDOWS_EXE, WINDOWS_EXE32, make_prefix, prefix_env, read_history

LINUX_EXE = os.path.join(ROOT, "build", "native", "virushist")


def known_variables():
    """The environment variables the code reads (its getenv calls and the timeline's
    name), WINEPREFIX among them."""
    names = set()
    for folder, _, files in os.walk(ROOT):
        if "/build" in folder or "/.git" in folder or "/tests" in folder or "/fuzz" in folder:
            continue
        for name in files:
            if name.endswith((".cpp", ".h")):
                with open(os.path.join(folder, name), encoding="utf-8") as f:
                    names.update(re.findall(r'"((?:VIRUSHIST_[A-Z_]+)|WINEPREFIX)"', f.read()))
    return names


def known_statuses():
    """The exit statuses of the run, from its enumeration."""
    with open(os.path.join(ROOT, "app", "exit_status.h"), encoding="utf-8") as f:
        return sorted(int(n) for n in re.findall(r"kExit\w+ = (\d+),", f.read()))


def version():
    with open(os.path.join(ROOT, "CMakeLists.txt")) as f:
        return re.search(r"project\(virushist VERSION ([0-9.]+)", f.read()).group(1)


class Release(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix="vh-release-")
        cls.out = os.path.join(cls.work, "packages")
        subprocess.run([os.path.join(ROOT, "scripts", "package"), cls.out], check=True,
                       stdout=subprocess.DEVNULL)
        cls.version = version()
        cls.deb = os.path.join(cls.out, f"virushist_{cls.version}_amd64.deb")
        cls.zips = {width: os.path.join(cls.out, f"virushist-{cls.version}-win{width}.zip") for width in (64, 32)}
        cls.prefix = os.path.join(cls.work, "prefix")
        cls.env = prefix_env(cls.prefix)
        make_prefix(cls.prefix, os.path.join(ROOT, "samples", "logs"), cls.env)

    @classmethod
    def tearDownClass(cls):
        subprocess.run(["wineserver", "-k"], env=cls.env, check=False)
        subprocess.run(["dpkg", "-r", "virushist"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        shutil.rmtree(cls.work, ignore_errors=True)

    def export(self, command):
        cwd = tempfile.mkdtemp(dir=self.work)
        done = subprocess.run(command, cwd=cwd, env=self.env, capture_output=True)
        self.assertEqual(done.returncode, 0, done.stderr)
        return read_history(cwd)

    def test_checksums(self):
        with open(os.path.join(self.out, "SHA256SUMS")) as f:
            sums = dict(reversed(line.split()) for line in f)
        self.assertEqual(sorted(sums), sorted(map(os.path.basename, (self.deb, *self.zips.values()))))
        for name, digest in sums.items():
            with open(os.path.join(self.out, name), "rb") as f:
                self.assertEqual(hashlib.sha256(f.read()).hexdigest(), digest, name)

    def test_debian_package_installs_runs_and_removes(self):
        fields = subprocess.run(["dpkg-deb", "-f", self.deb, "Version", "Depends"], check=True,
                                capture_output=True, text=True).stdout
        self.assertIn("Version: " + self.version, fields)
        for library in ("libhivex0", "libtsk19", "libstdc++6"):
            self.assertIn(library, fields)
        subprocess.run(["dpkg", "-i", self.deb], check=True, stdout=subprocess.DEVNULL)
        try:
            self.assertTrue(os.path.isfile("/usr/share/doc/virushist/copyright"))
            installed = self.export(["/usr/bin/virushist"])
            self.assertGreater(installed.count(b"\r\n"), 0)
            self.assertEqual(installed, self.export([os.path.join(ROOT, "build", "native", "virushist")]))
        finally:
            subprocess.run(["dpkg", "-r", "virushist"], check=True, stdout=subprocess.DEVNULL)
        self.assertFalse(os.path.exists("/usr/bin/virushist"))
        self.assertFalse(os.path.exists("/usr/share/doc/virushist"))
        status = subprocess.run(["dpkg-query", "-W", "-f=${Status}", "virushist"], capture_output=True, text=True)
        self.assertNotIn("installed", status.stdout.replace("not-installed", ""))

    def test_debian_package_passes_lintian_with_manual_page_and_changelog(self):
        files = subprocess.run(["dpkg-deb", "-c", self.deb], check=True, capture_output=True, text=True).stdout
        for path in ("./usr/share/man/man1/virushist.1.gz", "./usr/share/doc/virushist/changelog.gz",
                     "./usr/share/doc/virushist/copyright"):
            self.assertIn(path, files)
        done = subprocess.run(["lintian", "--fail-on", "error,warning", self.deb], capture_output=True, text=True)
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
        reported = [line for line in done.stdout.splitlines() if line.startswith(("E:", "W:"))]
        self.assertEqual(reported, [])
        page = os.path.join(ROOT, "docs", "virushist.1")
        for command in (["groff", "-man", "-ww", "-z", page], ["mandoc", "-T", "lint", page]):
            done = subprocess.run(command, capture_output=True, text=True)
            self.assertEqual((done.returncode, done.stdout + done.stderr), (0, ""), command)

    def test_every_line_the_suites_saw_has_its_form(self):
        # The suites before this one keep each line a Linux run printed, with the
        # system it read ($VH_LINES_LOG): "virushist: <system>: <what happened>",
        # a file of the system named by its Windows path, not its host path.
        log = os.environ.get("VH_LINES_LOG")
        if not log or not os.path.exists(log):
            self.skipTest("no suite kept its lines (VH_LINES_LOG)")
        with open(log) as f:
            records = [line.rstrip("\n").split("\t", 1) for line in f if "\t" in line]
        self.assertGreater(len(records), 0)
        for system, line in records:
            prefix = "virushist: " + system + ": "
            self.assertTrue(line.startswith(prefix), line)
            self.assertFalse(line[len(prefix):].startswith(system), line)

    def test_readme_names_the_packages_dependencies(self):
        depends = subprocess.run(["dpkg-deb", "-f", self.deb, "Depends"], check=True, capture_output=True,
                                 text=True).stdout
        names = {re.sub(r"[0-9.]*(t64)?$", "", part.split()[0]) for part in depends.split(",")}
        with open(os.path.join(ROOT, "README.md")) as f:
            packages = f.read().split("## Packages")[1].split("## Build")[0]
        runtimes = {"libc", "libgcc-s", "libstdc++"}
        self.assertEqual({name for name in names - runtimes if name not in packages}, set(), depends)

    def test_help_and_version_touch_nothing(self):
        cwd = tempfile.mkdtemp(dir=self.work)
        with open(os.path.join(cwd, "VirusHist.csv"), "wb") as f:
            f.write(b"kept\r\n")
        env = dict(self.env, VIRUSHIST_TIMELINE="t.jsonl")
        for option, expected in (("--help", "Usage: virushist"), ("--version", "virushist " + self.version)):
            with self.subTest(option):
                done = subprocess.run([LINUX_EXE, option], cwd=cwd, env=env, capture_output=True, text=True)
                self.assertEqual((done.returncode, done.stderr), (0, ""))
                self.assertTrue(done.stdout.startswith(expected), done.stdout)
                self.assertEqual(sorted(os.listdir(cwd)), ["VirusHist.csv"])
                with open(os.path.join(cwd, "VirusHist.csv"), "rb") as f:
                    self.assertEqual(f.read(), b"kept\r\n")
        # Any other argument, one beginning with -- too, is the pattern.
        done = subprocess.run([LINUX_EXE, "--bogus"], cwd=cwd, env=self.env, capture_output=True)
        self.assertEqual((done.returncode, done.stdout), (0, b""))

    def test_windows_help_and_version_touch_nothing(self):
        # As on Linux, adapted: /? and -? too. (Taken as patterns they emptied the
        # history file.)
        cwd = tempfile.mkdtemp(dir=self.work)
        with open(os.path.join(cwd, "VirusHist.csv"), "wb") as f:
            f.write(b"kept\r\n")
        for exe, width in ((WINDOWS_EXE, 64),) + (((WINDOWS_EXE32, 32),) if WINDOWS32 else ()):
            for option, expected in (("/?", "Usage: virushist"), ("-?", "Usage: virushist"),
                                     ("--help", "Usage: virushist"),
                                     ("--version", f"virushist {self.version} ({width}-bit")):
                with self.subTest(option=option, width=width):
                    done = subprocess.run(["wine", exe, option], cwd=cwd, env=self.env, capture_output=True, text=True)
                    self.assertEqual(done.returncode, 0, done.stderr)
                    self.assertTrue(done.stdout.startswith(expected), done.stdout)
                    self.assertEqual(sorted(os.listdir(cwd)), ["VirusHist.csv"])
                    with open(os.path.join(cwd, "VirusHist.csv"), "rb") as f:
                        self.assertEqual(f.read(), b"kept\r\n")

    def test_help_manual_and_readme_name_every_variable_status_and_format(self):
        variables, statuses = known_variables(), known_statuses()
        self.assertTrue({"VIRUSHIST_SYSTEM_DRIVE", "VIRUSHIST_TIMELINE", "WINEPREFIX"} <= variables, variables)
        self.assertEqual(statuses, list(range(8)))
        help_text = subprocess.run([LINUX_EXE, "--help"], check=True, capture_output=True, text=True).stdout
        manual = subprocess.run(["mandoc", "-T", "utf8", os.path.join(ROOT, "docs", "virushist.1")], check=True,
                                capture_output=True, text=True).stdout
        manual = re.sub(r".\x08", "", manual)
        with open(os.path.join(ROOT, "README.md"), encoding="utf-8") as f:
            readme = f.read()
        sections = {"--help": (help_text, help_text.split("Exit status:")[1]),
                    "manual": (manual, manual.split("EXIT STATUS")[1].split("EXAMPLES")[0]),
                    "README": (readme, readme.split("## Exit status")[1].split("\n## ")[0])}
        for name, (text, exit_section) in sections.items():
            with self.subTest(name):
                # One list of the image formats, the same in all three.
                self.assertIn("raw or split raw, E01, AFF, VMDK, VHD, VHDX, QCOW, QCOW2", " ".join(text.split()),
                              f"{name} does not give the list of image formats")
                for variable in variables:
                    self.assertTrue(variable in text, f"{name} does not name {variable}")
                for status in statuses:
                    self.assertTrue(re.search(r"(?m)^\s*\|?\s*%d\b" % status, exit_section),
                                    f"{name} does not list exit status {status}")

    def test_zips_run_under_wine_from_an_empty_folder(self):
        # Each zip's executable, unpacked outside the build tree, writes the Linux
        # build's file; the 32-bit one where this machine runs 32-bit Wine.
        for width, archive_path in self.zips.items():
            with self.subTest(width=width):
                folder = tempfile.mkdtemp(prefix="vh-unzipped-")
                try:
                    with zipfile.ZipFile(archive_path) as archive:
                        names = sorted(archive.namelist())
                        archive.extractall(folder)
                    top = f"virushist-{self.version}-win{width}"
                    self.assertEqual(names, [f"{top}/LICENSE", f"{top}/README.md", f"{top}/virushist.exe"])
                    exe = os.path.join(folder, top, "virushist.exe")
                    headers, imports = pe_imports(exe)
                    self.assertIn(("KERNEL32.DLL", "GetProcAddress"), imports)
                    self.assertIn(("USER32.DLL", "LoadStringA"), imports)
                    if width == 32:
                        self.check_starts_on_xp(headers, imports)
                    if width == 64 or WINDOWS32:
                        self.assertEqual(self.export(["wine", exe]), self.export([LINUX_EXE]))
                finally:
                    shutil.rmtree(folder, ignore_errors=True)

    def check_starts_on_xp(self, headers, imports):
        """XP SP2 starts a PE of subsystem version 5.01 whose every import its DLLs
        export: tests/data/xp_imports.txt lists those allowed."""
        self.assertIn("file format pei-i386", headers)
        for field in ("MajorSubsystemVersion\t5", "MinorSubsystemVersion\t1"):
            self.assertIn(field, headers)
        with open(os.path.join(ROOT, "tests", "data", "xp_imports.txt")) as f:
            allowed = {tuple(line.split()) for line in f if line.strip() and not line.startswith("#")}
        self.assertEqual(sorted(imports - allowed), [], "imports that Windows XP SP2 lacks")


def pe_imports(exe):
    """An executable's PE headers as objdump prints them, and its imports: a set of
    (DLL in capitals, function)."""
    headers = subprocess.run(["x86_64-w64-mingw32-objdump", "-p", exe], check=True,
                             capture_output=True, text=True).stdout
    imports, dll = set(), None
    for line in headers.splitlines():
        named = re.match(r"\s*DLL Name: (\S+)", line)
        entry = re.match(r"\t[0-9a-f]+\t\s*\d+\s+(\S+)", line)
        if named:
            dll = named.group(1).upper()
        elif entry and dll:
            imports.add((dll, entry.group(1)))
    return headers, imports


if __name__ == "__main__":
    result = unittest.main(exit=False, verbosity=2).result
    failed = len(result.failures) + len(result.errors)
    print(f"{result.testsRun - failed} passed, {failed} failed")
    sys.exit(1 if failed else 0)
