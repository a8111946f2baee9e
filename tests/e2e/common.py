"""What the end-to-end suites share: the executables, a prefix with the product
installed, runs in a folder of their own, and reading the history file back."""
import csv
import os
import shutil
import subprocess

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
# The Linux build under test: build/native, or another (build/asan) from VH_LINUX_BUILD.
LINUX_BUILD = os.path.join(ROOT, os.environ.get("VH_LINUX_BUILD", os.path.join("build", "native")))
LINUX_EXE = os.path.join(LINUX_BUILD, "virushist")
WINDOWS_EXE = os.path.join(ROOT, "build", "mingw", "virushist.exe")
LOGGEN = os.path.join(ROOT, "build", "native", "loggen")
KEY = r"HKLM\Software\Ordvane\Pellmoor\Scarnel6\CurrentVersion"
PRODUCT = "drive_c/ProgramData/Corvessa/Tarvel Corporate Edition"
COMMANDS = {"linux": [LINUX_EXE], "windows": ["wine", WINDOWS_EXE]}
# A sanitizer build reports through these; a report fails the run.
# Leaks inside libtsk's format detection are suppressed (lsan.supp says why).
SANITIZER_ENV = {"ASAN_OPTIONS": "detect_leaks=1:abort_on_error=1",
                 "UBSAN_OPTIONS": "halt_on_error=1:print_stacktrace=1",
                 "LSAN_OPTIONS": "print_suppressions=0:suppressions=" +
                                 os.path.join(ROOT, "tests", "lsan.supp")}


def prefix_env(prefix):
    return dict(os.environ, WINEPREFIX=prefix, WINEDEBUG="-all", LC_ALL="en_US.UTF-8",
                **SANITIZER_ENV)


def locale_env(locale=None, **variables):
    """This environment without any locale variable, with the sanitizer options, the
    locale's LC_ALL when one is given, and the variables given."""
    env = {k: v for k, v in os.environ.items() if not k.startswith("LC_") and k != "LANG"}
    env.update(WINEDEBUG="-all", **SANITIZER_ENV, **variables)
    if locale:
        env["LC_ALL"] = locale + ".UTF-8"
    return env


def make_prefix(prefix, logs, env):
    subprocess.run([os.path.join(ROOT, "scripts", "make-prefix"), prefix],
                   env=dict(env, LOGS=logs), check=True)


def set_registry(env, key, value, data, kind="REG_SZ"):
    """Writes one registry value and waits until system.reg holds it."""
    subprocess.run(["wine", "reg", "add", key, "/v", value, "/t", kind, "/d", data, "/f"],
                   env=env, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    subprocess.run(["wineserver", "-w"], env=env, check=True)


def fresh_folder(path):
    shutil.rmtree(path, ignore_errors=True)
    os.makedirs(path)
    return path


def old_history(cwd):
    """A history file from an earlier run, which a run that ends early must keep."""
    with open(os.path.join(cwd, "VirusHist.csv"), "wb") as f:
        f.write(b"old\r\n")


def read_history(cwd):
    """The bytes of VirusHist.csv in cwd, or None when there is no such file."""
    output = os.path.join(cwd, "VirusHist.csv")
    if not os.path.isfile(output):
        return None
    with open(output, "rb") as f:
        return f.read()


def parse_rows(test, data, codec="latin-1"):
    """The rows of a history file, each checked to hold exactly 13 fields."""
    text = data.decode(codec)
    test.assertTrue(text == "" or text.endswith("\r\n"), text[-40:])
    # Read as a whole file: quoted fields may hold line ends.
    rows = list(csv.reader(text.splitlines(keepends=True)))
    for row in rows:
        test.assertEqual(len(row), 13, row)
    return rows


def check_no_sanitizer_report(test, stderr):
    test.assertNotIn(b"Sanitizer", stderr)
    test.assertNotIn(b"runtime error", stderr)
