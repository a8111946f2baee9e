"""What the end-to-end suites share: the executables, a prefix with the product
installed, runs in a folder of their own, and reading the history file back."""
import csv
import os
import shutil
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
# The Linux build under test: build/native, or another (build/asan) from VH_LINUX_BUILD.
LINUX_BUILD = os.path.join(ROOT, os.environ.get("VH_LINUX_BUILD", os.path.join("build", "native")))
LINUX_EXE = os.path.join(LINUX_BUILD, "virushist")
WINDOWS_EXE = os.path.join(ROOT, "build", "mingw", "virushist.exe")
WINDOWS_EXE32 = os.path.join(ROOT, "build", "mingw32", "virushist.exe")
# The preset that makes each Windows executable.
WINDOWS_PRESETS = {WINDOWS_EXE: "mingw", WINDOWS_EXE32: "mingw32"}
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


def wine32_runs():
    """Whether 32-bit Wine is installed and this machine runs 32-bit code (some
    hypervisors run none: install-deps then leaves wine32 out)."""
    loader = "/usr/lib/wine/wine"
    return os.path.exists(loader) and subprocess.run(
        [loader, "--version"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode == 0


# The 32-bit executable, where 32-bit Wine runs it.
WINDOWS32 = {"windows32": ["wine", WINDOWS_EXE32]} if wine32_runs() else {}


def require_windows_builds(*exes):
    """Ends a suite that compares with the Windows executables before its first test
    when one is missing (Wine would end each run with status 53), saying which and
    how to make it."""
    for exe in exes:
        if not os.path.isfile(exe):
            preset = WINDOWS_PRESETS[exe]
            sys.exit(f"the Windows build {exe} is missing; make it first with: "
                     f"cmake --preset {preset} && cmake --build --preset {preset}")


def make_prefix(prefix, logs, env):
    subprocess.run([os.path.join(ROOT, "scripts", "make-prefix"), prefix],
                   env=dict(env, LOGS=logs), check=True)


def registry_view(key, view):
    """The registry view a value is written in: the product's key in the 32-bit view,
    as the product, a 32-bit program, writes it; every other key in the 64-bit view,
    where a 64-bit Windows keeps its own settings. (The same whichever loader "wine"
    is: with wine32 installed it is the 32-bit one.)"""
    return "/reg:" + (view or ("32" if key == KEY else "64"))


def set_registry(env, key, value, data, kind="REG_SZ", view=None):
    """Writes one registry value and waits until system.reg holds it."""
    subprocess.run(["wine", "reg", "add", key, "/v", value, "/t", kind, "/d", data, "/f",
                    registry_view(key, view)],
                   env=env, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    subprocess.run(["wineserver", "-w"], env=env, check=True)


def delete_registry(env, key, value, views=("32", "64")):
    """Deletes one registry value from each view, where it is, and waits until
    system.reg no longer holds it."""
    for view in views:
        subprocess.run(["wine", "reg", "delete", key, "/v", value, "/f", "/reg:" + view],
                       env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
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


def system_of(env):
    """The system a run with this environment reads, as its lines name it."""
    named = env.get("VIRUSHIST_SYSTEM_DRIVE") or env.get("WINEPREFIX") or os.path.join(env.get("HOME", ""), ".wine")
    return os.path.abspath(named)


def check_no_sanitizer_report(test, stderr, env=None):
    """No sanitizer report, and no system call the sandbox refused: in a normal run
    that is a bug. With the run's environment, every line has its form:
    "virushist: <system>: <what happened>", where what happened names a file of
    the system by its Windows path, never by the system's host path; the lines are
    also kept in $VH_LINES_LOG, when set, for the release test."""
    test.assertNotIn(b"Sanitizer", stderr)
    test.assertNotIn(b"runtime error", stderr)
    test.assertNotIn(b"the sandbox refused", stderr)
    if env is None:
        return
    system = system_of(env)
    lines = stderr.decode("utf-8", "replace").splitlines()
    for line in lines:
        test.assertTrue(line.startswith("virushist: " + system + ": "), line)
        test.assertFalse(line[len("virushist: " + system + ": "):].startswith(system), line)
    if os.environ.get("VH_LINES_LOG"):
        with open(os.environ["VH_LINES_LOG"], "a") as f:
            for line in lines:
                f.write(system + "\t" + line + "\n")
