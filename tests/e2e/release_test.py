#!/usr/bin/env python3
"""The release, tried as a user would (as root): scripts/package makes the zip, the
Debian package and their checksums; the package installs with dpkg, its
/usr/bin/virushist exports the bundled sample from a fresh prefix, and dpkg -r
removes it cleanly; the zip's executable runs under Wine from an empty folder
outside the build tree and writes the same file."""
import hashlib
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest
import zipfile

from common import ROOT, make_prefix, prefix_env, read_history


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
        cls.zip = os.path.join(cls.out, f"virushist-{cls.version}-win64.zip")
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
        self.assertEqual(sorted(sums), sorted(map(os.path.basename, (self.deb, self.zip))))
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

    def test_zip_runs_under_wine_from_an_empty_folder(self):
        folder = tempfile.mkdtemp(prefix="vh-unzipped-")
        try:
            with zipfile.ZipFile(self.zip) as archive:
                names = sorted(archive.namelist())
                archive.extractall(folder)
            top = f"virushist-{self.version}-win64"
            self.assertEqual(names, [f"{top}/LICENSE", f"{top}/README.md", f"{top}/virushist.exe"])
            exe = os.path.join(folder, top, "virushist.exe")
            imports = subprocess.run(["x86_64-w64-mingw32-objdump", "-p", exe], check=True,
                                     capture_output=True, text=True).stdout
            self.assertIn("LoadStringA", imports)
            self.assertEqual(self.export(["wine", exe]),
                             self.export([os.path.join(ROOT, "build", "native", "virushist")]))
        finally:
            shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    result = unittest.main(exit=False, verbosity=2).result
    failed = len(result.failures) + len(result.errors)
    print(f"{result.testsRun - failed} passed, {failed} failed")
    sys.exit(1 if failed else 0)
