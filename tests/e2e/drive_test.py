#!/usr/bin/python3
"""A Windows system drive mounted on Linux, end to end: stand-ins for mounted system
drives laid out as Windows 10 and as Windows XP, with hives the tests make
(hives.py), each with the product installed. The Linux build reading the drive
($VIRUSHIST_SYSTEM_DRIVE) must write the same bytes as the Windows build under
Wine on a prefix that holds the same installation and the same settings; bad hives
end the run before anything is touched, with a line on standard error.
Run with Debian's /usr/bin/python3, which has python3-hivex."""
import os
import random
import shutil
import subprocess
import sys
import tempfile
import unittest

import hives
import images
from common import (COMMANDS, KEY, WINDOWS_EXE, check_no_sanitizer_report, fresh_folder, locale_env,
                    old_history, parse_rows, read_history, registry_view, require_windows_builds)
from hives import REG_BINARY, REG_DWORD, REG_EXPAND_SZ, REG_SZ

PRODUCT_KEY = r"Ordvane\Pellmoor\Scarnel6\CurrentVersion"
WINDOWS_KEY = r"Microsoft\Windows NT\CurrentVersion"
SHELL_FOLDERS = r"Microsoft\Windows\CurrentVersion\Explorer\Shell Folders"
PROFILE_LIST = r"Microsoft\Windows NT\CurrentVersion\ProfileList"
WINE_SHELL_FOLDERS = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Explorer\User Shell Folders"
EXIT_SYSTEM_UNREADABLE = 7

# Two systems: (locale, code page, Python codec, short date picture, home directory,
# a path with the locale's characters for the logs).
LOCALES = {
    "en_US": ("1252", "cp1252", "dd.MM.yyyy", r"C:\Program Files\Tärvel", r"C:\Daten\Bericht ä.doc"),
    "ja_JP": ("932", "cp932", "yyyy/MM/dd", r"C:\ソフト\表計算", r"C:\データ\表.doc"),
}
# The two layouts: where the all-users application-data folder is.
LAYOUTS = {
    "win10": r"C:\ProgramData",
    "winxp": r"C:\Documents and Settings\All Users\Application Data",
}


def log_line(path, name):
    return (f"1F0004090000,5,0,1,PC01,alice,{name},{path},5,1,5,256,0,\"d\","
            ",,,,,,,,,0,0,,20011225.001,,,,,,\r\n")


def host(root, windows_path):
    """The host path of C:\\... below a drive's folder."""
    return os.path.join(root, *windows_path[3:].split("\\"))


# The stand-in drive.


def software_keys(layout, locale, installed=True):
    home = LOCALES[locale][3]
    keys = {WINDOWS_KEY: {"SystemRoot": (REG_SZ, r"C:\Windows")}}
    if layout == "win10":
        keys[WINDOWS_KEY].update(CurrentMajorVersionNumber=(REG_DWORD, 10),
                                 CurrentVersion=(REG_SZ, "6.3"))
        keys[SHELL_FOLDERS] = {"Common AppData": (REG_SZ, LAYOUTS[layout])}
        keys[PROFILE_LIST] = {"ProgramData": (REG_EXPAND_SZ, r"%SystemDrive%\ProgramData")}
    else:
        # Windows XP: no major version number, and the all-users folder from the
        # profile list.
        keys[WINDOWS_KEY]["CurrentVersion"] = (REG_SZ, "5.1")
        keys[PROFILE_LIST] = {
            "ProfilesDirectory": (REG_EXPAND_SZ, r"%SystemDrive%\Documents and Settings"),
            "AllUsersProfile": (REG_SZ, "All Users")}
    if installed:
        keys[PRODUCT_KEY] = {"Home Directory": (REG_SZ, home)}
    return keys


def make_drive(work, layout, locale, software=None, system=None, default=None):
    """A stand-in drive folder in work with the three hives."""
    codepage, _, picture, _, _ = LOCALES[locale]
    drive = os.path.join(work, "drive-" + layout)
    config = os.path.join(drive, "Windows", "System32", "config")
    os.makedirs(config)
    hives.make_hive(os.path.join(config, "SOFTWARE"),
                    software if software is not None else software_keys(layout, locale))
    hives.make_hive(os.path.join(config, "SYSTEM"), system if system is not None else {
        "Select": {"Current": (REG_DWORD, 2)},
        r"ControlSet001\Control\Nls\CodePage": {"ACP": (REG_SZ, "437")},
        r"ControlSet002\Control\Nls\CodePage": {"ACP": (REG_SZ, codepage)}})
    hives.make_hive(os.path.join(config, "DEFAULT"), default if default is not None else {
        r"Control Panel\International": {"sShortDate": (REG_SZ, picture)}})
    return drive


def install(root, layout, locale, version=True):
    """The product's folders and logs below a drive's folder (or drive_c)."""
    codec, home, path = LOCALES[locale][1], LOCALES[locale][3], LOCALES[locale][4]
    data = host(root, LAYOUTS[layout]) + "/Corvessa/Tarvel Corporate Edition"
    os.makedirs(os.path.join(data, "7.0", "logs"), exist_ok=True)
    folders = [os.path.join(host(root, home), "logs")]
    if version:
        folders.append(os.path.join(data, "7.6", "logs"))
    for i, folder in enumerate(folders):
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, "a.log"), "wb") as f:
            f.write((log_line(path, "InVersion" if i else "InHome") +
                     log_line(r"C:\Mail\box.zip>m.doc", "Second")).encode(codec))


def setUpModule():
    require_windows_builds(WINDOWS_EXE)


class Drives(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="vh-drive-")
        self.prefix = None

    def tearDown(self):
        if self.prefix:
            subprocess.run(["wineserver", "-k"], env=self.wine_env(), check=False)
        shutil.rmtree(self.work, ignore_errors=True)

    # The Wine prefix that holds the same installation and settings.

    def wine_env(self, locale=None):
        return locale_env(locale, WINEPREFIX=os.path.join(self.work, "prefix"))

    def make_prefix(self, layout, locale, version=True, installed=True):
        self.prefix = os.path.join(self.work, "prefix")
        env = self.wine_env(locale)
        subprocess.run(["wineboot", "-i"], env=env, check=True, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        def reg(key, name, data, kind="REG_SZ"):
            subprocess.run(["wine", "reg", "add", key, "/v", name, "/t", kind, "/d", data, "/f",
                            registry_view(key, None)],
                           env=env, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if installed:
            reg(KEY, "Home Directory", LOCALES[locale][3])
        reg(r"HKCU\Control Panel\International", "sShortDate", LOCALES[locale][2])
        reg(WINE_SHELL_FOLDERS, "Common AppData", LAYOUTS[layout], "REG_EXPAND_SZ")
        subprocess.run(["wineserver", "-w"], env=env, check=True)
        install(os.path.join(self.prefix, "drive_c"), layout, locale, version)
        return env

    def run_linux(self, drive, before=None, locale=None, sandbox="on"):
        cwd = fresh_folder(os.path.join(self.work, "run-linux"))
        if before:
            before(cwd)
        env = locale_env(locale, VIRUSHIST_SYSTEM_DRIVE=drive, VIRUSHIST_SANDBOX=sandbox,
                         WINEPREFIX=os.path.join(self.work, "no-prefix"))
        done = subprocess.run(COMMANDS["linux"], cwd=cwd, env=env, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE)
        check_no_sanitizer_report(self, done.stderr, env)
        self.assertEqual(done.stdout, b"")
        return done.returncode, read_history(cwd), done.stderr.decode("utf-8", "replace")

    def run_windows(self, env, before=None):
        cwd = fresh_folder(os.path.join(self.work, "run-windows"))
        if before:
            before(cwd)
        done = subprocess.run(COMMANDS["windows"], cwd=cwd, env=env, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE)
        return done.returncode, read_history(cwd)

    def check_same_as_wine(self, layout, locale, version=True, installed=True):
        drive = make_drive(self.work, layout, locale, software=software_keys(layout, locale, installed))
        if installed:
            install(drive, layout, locale, version)
        env = self.make_prefix(layout, locale, version, installed)
        windows = self.run_windows(env, old_history)
        linux = self.run_linux(drive, old_history)
        self.assertEqual(linux[:2], windows)
        for own_locale in (locale, "en_US"):
            self.assertEqual(self.run_linux(drive, old_history, own_locale)[:2], windows)
        return windows

    def check_layout(self, layout):
        for locale in LOCALES:
            with self.subTest(locale=locale):
                status, data = self.check_same_as_wine(layout, locale)
                self.assertEqual(status, 0)
                rows = parse_rows(self, data, LOCALES[locale][1])
                self.assertEqual([row[2] for row in rows], ["InVersion", "Second"])
                # The drive's own picture: dd.MM.yyyy and yyyy/MM/dd.
                self.assertEqual(rows[0][0], "04.01.2001" if locale == "en_US" else "2001/01/04")
            self.tearDown()
            self.setUp()

    def test_windows_10_version_folder_both_locales(self):
        self.check_layout("win10")

    def test_windows_xp_version_folder_both_locales(self):
        self.check_layout("winxp")

    def test_home_directory_fallback(self):
        status, data = self.check_same_as_wine("win10", "ja_JP", version=False)
        self.assertEqual(status, 0)
        self.assertEqual([row[2] for row in parse_rows(self, data, "cp932")], ["InHome", "Second"])

    def test_not_installed(self):
        status, data = self.check_same_as_wine("winxp", "en_US", installed=False)
        self.assertEqual((status, data), (1, b"old\r\n"))

    def test_a_link_out_of_the_drive_is_refused(self):
        # The reader reads beneath the drive alone: a log linked out of it is named
        # and not read (exit 4); the rest is what a run without the sandbox writes.
        # (The confinement itself: hostile_test.py.)
        drive = make_drive(self.work, "win10", "en_US")
        install(drive, "win10", "en_US")
        logs = os.path.join(host(drive, LAYOUTS["win10"]), "Corvessa", "Tarvel Corporate Edition", "7.6", "logs")
        secret = os.path.join(self.work, "secret.log")
        with open(secret, "w") as f:
            f.write(log_line(r"C:\x.doc", "Outside"))
        os.symlink(secret, os.path.join(logs, "link.log"))
        status, confined, stderr = self.run_linux(drive)
        self.assertEqual(status, 4, stderr)
        self.assertIn("\\logs\\link.log: not read (outside the system's folders: " + os.path.join(logs, "link.log") + ")",
                      stderr)
        self.assertEqual([row[2] for row in parse_rows(self, confined)], ["InVersion", "Second"])
        os.remove(os.path.join(logs, "link.log"))
        unconfined = self.run_linux(drive, sandbox="off")
        self.assertEqual(unconfined[:2], (0, confined))

    def test_registry_views_on_a_drive_and_its_image(self):
        # The product, a 32-bit program, keeps its key under Wow6432Node on 64-bit
        # Windows; a 64-bit build of it would keep it in the native view. With no
        # version folder, the home directory read tells which view won.
        homes = {"32": r"C:\Tarvel32", "64": r"C:\Tarvel64"}
        keys = {"32": "Wow6432Node\\" + PRODUCT_KEY, "64": PRODUCT_KEY}
        for views, expected in ((("32",), "From32"), (("64",), "From64"), (("32", "64"), "From32")):
            with self.subTest(views=views):
                software = software_keys("win10", "en_US", installed=False)
                for view in views:
                    software[keys[view]] = {"Home Directory": (REG_SZ, homes[view])}
                drive = make_drive(self.work, "win10", "en_US", software=software)
                for view, home in homes.items():
                    os.makedirs(os.path.join(host(drive, home), "logs"))
                    with open(os.path.join(host(drive, home), "logs", "a.log"), "wb") as f:
                        f.write(log_line(r"C:\Data\a.doc", "From" + view).encode())
                image = images.ntfs_volume(os.path.join(self.work, "volume.img"), 16, source=drive)
                for system in (drive, image):
                    status, data, stderr = self.run_linux(system)
                    self.assertEqual(status, 0, stderr)
                    self.assertEqual([row[2] for row in parse_rows(self, data)], [expected])
            self.tearDown()
            self.setUp()

    # Bad hives and settings: the file and the reason on standard error, exit 7,
    # the history file untouched.

    def check_unreadable(self, drive, *words):
        status, data, stderr = self.run_linux(drive, old_history)
        self.assertEqual((status, data), (EXIT_SYSTEM_UNREADABLE, b"old\r\n"), stderr)
        self.assertEqual(stderr.count("\n"), 1, stderr)
        for word in words:
            self.assertIn(word, stderr)

    def test_bad_hive_files(self):
        def missing(path):
            os.remove(path)
        def empty(path):
            os.truncate(path, 0)
        def truncated_in_a_bin(path):
            os.truncate(path, os.path.getsize(path) - 1000)
        def truncated_at_a_bin(path):
            os.truncate(path, 8192)
        def not_a_hive(path):
            with open(path, "wb") as f:
                f.write(bytes(random.Random(7).getrandbits(8) for _ in range(20000)))
        def bad_checksum(path):
            with open(path, "r+b") as f:
                f.seek(0x30)
                f.write(b"\x01")
        cases = {missing: "missing", empty: "empty", truncated_in_a_bin: "",
                 truncated_at_a_bin: "truncated", not_a_hive: "not a registry hive",
                 bad_checksum: "libhivex"}
        for hive in ("SOFTWARE", "SYSTEM", "DEFAULT"):
            for damage, reason in cases.items():
                with self.subTest(hive=hive, damage=damage.__name__):
                    shutil.rmtree(os.path.join(self.work, "drive-win10"), ignore_errors=True)
                    drive = make_drive(self.work, "win10", "en_US", software=self.big_software(200)
                                            if hive == "SOFTWARE" else None)
                    path = os.path.join(drive, "Windows", "System32", "config", hive)
                    damage(path)
                    self.check_unreadable(drive, "virushist: " + drive + ": Windows\\System32\\config\\" + hive + ": ",
                                          reason)

    def big_software(self, keys):
        """The usual SOFTWARE keys and many others, so that the hive has bins to cut."""
        software = software_keys("win10", "en_US")
        for i in range(keys):
            software[r"Vendor\Product%04d" % i] = {"Data": (REG_BINARY, b"x" * 200)}
        return software

    def test_settings_of_the_wrong_type(self):
        software = software_keys("win10", "en_US")
        cases = {
            "Select current a string": (None, {"Select": {"Current": (REG_SZ, "1")}}, None,
                                        "Select\\Current"),
            "Select missing": (None, {r"ControlSet001\Control\Nls\CodePage": {"ACP": (REG_SZ, "1252")}},
                               None, "Select\\Current is missing"),
            "code page a number": (None, {"Select": {"Current": (REG_DWORD, 1)},
                                          r"ControlSet001\Control\Nls\CodePage": {"ACP": (REG_DWORD, 1252)}},
                                   None, "ACP"),
            "major version a string": (dict(software, **{WINDOWS_KEY: dict(
                software[WINDOWS_KEY], CurrentMajorVersionNumber=(REG_SZ, "10"))}), None, None,
                "CurrentMajorVersionNumber"),
            "picture a number": (None, None, {r"Control Panel\International": {"sShortDate": (REG_DWORD, 1)}},
                                 "sShortDate"),
            "picture too long": (None, None, {r"Control Panel\International": {"sShortDate": (REG_SZ, "d" * 300)}},
                                 "too long"),
        }
        for name, (soft, system, default, word) in cases.items():
            with self.subTest(name):
                shutil.rmtree(os.path.join(self.work, "drive-win10"), ignore_errors=True)
                drive = make_drive(self.work, "win10", "en_US", soft, system, default)
                self.check_unreadable(drive, word)

    def test_missing_settings_and_names_in_other_case(self):
        # No "Common AppData": the profile list's ProgramData gives the folder. No
        # short date picture: the C library's locale decides. Folders and hives named
        # in other letter case than Windows writes them are found.
        software = software_keys("win10", "en_US")
        del software[SHELL_FOLDERS]
        drive = make_drive(self.work, "win10", "en_US", software=software, default={})
        install(drive, "win10", "en_US")
        os.rename(os.path.join(drive, "Windows"), os.path.join(drive, "WINDOWS"))
        config = os.path.join(drive, "WINDOWS", "System32", "config")
        os.rename(config, os.path.join(drive, "WINDOWS", "System32", "Config"))
        config = os.path.join(drive, "WINDOWS", "System32", "Config")
        os.rename(os.path.join(config, "SOFTWARE"), os.path.join(config, "software"))
        os.rename(os.path.join(drive, "ProgramData"), os.path.join(drive, "programdata"))
        status, data, _ = self.run_linux(drive, locale="de_DE")
        self.assertEqual(status, 0)
        rows = parse_rows(self, data, "cp1252")
        self.assertEqual([row[2] for row in rows], ["InVersion", "Second"])
        self.assertEqual(rows[0][0], "04.01.2001")  # de_DE's own %d.%m.%Y

    def test_other_drives_do_not_exist(self):
        # A home directory on D: is not found: the logs are read from the version
        # folder, and with none the run finds no logs.
        software = software_keys("win10", "en_US")
        software[PRODUCT_KEY] = {"Home Directory": (REG_SZ, r"D:\Tarvel")}
        drive = make_drive(self.work, "win10", "en_US", software=software)
        os.makedirs(os.path.join(drive, "Tarvel", "logs"))
        with open(os.path.join(drive, "Tarvel", "logs", "a.log"), "wb") as f:
            f.write(log_line(r"C:\x.doc", "OnC").encode())
        status, data, _ = self.run_linux(drive)
        self.assertEqual((status, data), (0, b""))

    def test_large_hive(self):
        # A SOFTWARE hive of over 100 MB with over 300,000 keys: the folder is found.
        drive = make_drive(self.work, "win10", "en_US", software=self.big_software(0))
        path = os.path.join(drive, "Windows", "System32", "config", "SOFTWARE")
        make_large_software(path, software_keys("win10", "en_US"))
        self.assertGreater(os.path.getsize(path), 100_000_000)
        install(drive, "win10", "en_US")
        status, data, _ = self.run_linux(drive)
        self.assertEqual(status, 0)
        self.assertEqual(len(parse_rows(self, data)), 2)


# Every system code page, with a word in its script (the Vietnamese with its
# combining marks, as code page 1258 writes them; the Hebrew with points).
CODE_PAGE_WORDS = {
    874: "บันทึก", 932: "表計算", 936: "乗日志", 949: "한글", 950: "許功", 1250: "Łódź",
    1251: "Журнал", 1252: "Größe", 1253: "ημερολόγιο", 1254: "Günlük",
    1255: "יומן\u05e9\u05c1\u05b8", 1256: "سجل", 1257: "Žurnāls", 1258: "Nh\u00e2\u0323t ky\u0301",
    65001: "日本語 Ελληνικά",
}
TABLES = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "data",
                      "codepages.tsv")


def windows_encoder(code_page):
    """Text to the code page's bytes as Windows' table writes it ("?" without a form)."""
    if code_page == 65001:
        return lambda text: text.encode("utf-8")
    table = {}
    with open(TABLES) as f:
        for line in f:
            page, direction, first, out, count = (line.rstrip("\n").split("\t") + [""])[:5]
            if int(page) == code_page and direction == "W":
                for i in range(int(count, 16)):
                    value = int(out, 16) + i
                    table[int(first, 16) + i] = value.to_bytes(2 if value > 0xFF else 1, "big")
    return lambda text: b"".join(table.get(ord(c), b"?") for c in text)


class CodePages(unittest.TestCase):
    """A stand-in drive of each system code page, with the product installed under
    names in its script: the rows hold the names as Windows' tables write them, and
    a pattern typed in a UTF-8 shell finds the log it names."""

    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="vh-codepage-")

    def tearDown(self):
        shutil.rmtree(self.work, ignore_errors=True)

    def make(self, code_page, acp=None):
        word = CODE_PAGE_WORDS[code_page]
        encode = windows_encoder(code_page)
        home = "C:\\" + word + "\\Tarvel"
        software = software_keys("win10", "en_US")
        software[PRODUCT_KEY] = {"Home Directory": (REG_SZ, home)}
        drive = make_drive(os.path.join(self.work, "%s-%s" % (code_page, acp)), "win10", "en_US", software=software,
                           system={"Select": {"Current": (REG_DWORD, 1)},
                                   r"ControlSet001\Control\Nls\CodePage":
                                       {"ACP": (REG_SZ, acp or str(code_page))}})
        logs = host(drive, r"C:\ProgramData") + "/Corvessa/Tarvel Corporate Edition/7.6 " + word + "/logs"
        os.makedirs(logs)
        os.makedirs(host(drive, home) + "/logs")
        for name, virus in ((word + ".log", "Named"), ("other.log", "Other")):
            with open(os.path.join(logs, name), "wb") as f:
                f.write(encode(log_line("C:\\" + word + "\\" + word + ".doc", virus)))
        return drive, encode, word

    def run_linux(self, drive, *args, locale=None):
        cwd = fresh_folder(os.path.join(self.work, "run"))
        env = locale_env(locale, VIRUSHIST_SYSTEM_DRIVE=drive, WINEPREFIX=os.path.join(self.work, "none"))
        done = subprocess.run(COMMANDS["linux"] + list(args), cwd=cwd, env=env, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE)
        check_no_sanitizer_report(self, done.stderr)
        return done.returncode, read_history(cwd), done.stderr.decode("utf-8", "replace")

    def test_every_system_code_page(self):
        for code_page in CODE_PAGE_WORDS:
            with self.subTest(code_page=code_page):
                drive, encode, word = self.make(code_page)
                status, data, stderr = self.run_linux(drive)
                self.assertEqual(status, 0, stderr)
                lines = {line.split(b",")[2]: line + b"\r\n" for line in data.split(b"\r\n")[:-1]}
                self.assertEqual(sorted(lines), [b"Named", b"Other"])
                named = lines[b"Named"].split(b",")
                self.assertEqual(named[1], encode(word + ".doc"))
                self.assertEqual(named[7], encode("C:\\" + word + "\\"))
                # A pattern as a UTF-8 terminal sends it, whatever the locale says.
                for locale in ("C", None, "en_US"):
                    status, found, stderr = self.run_linux(drive, word[:2] + "*", locale=locale)
                    self.assertEqual((status, found), (0, lines[b"Named"]), (locale, stderr))

    def test_an_acp_that_is_no_system_code_page(self):
        for acp in ("1200", "12000", "20127", "437", "utf-8", ""):
            with self.subTest(acp=acp):
                drive, _, _ = self.make(1252, acp=acp or " ")
                status, data, stderr = self.run_linux(drive)
                self.assertEqual((status, data), (EXIT_SYSTEM_UNREADABLE, None), stderr)
                self.assertIn("is not a system code page", stderr)


class Calendars(unittest.TestCase):
    """Stand-in drives of a Saudi (ar-SA: code page 1256, Um Al-Qura) and an Iranian
    (fa-IR: 1256, Persian) system: the dates are counted in their calendars, as
    ICU (python3-icu) counts them."""

    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="vh-calendar-")

    def tearDown(self):
        shutil.rmtree(self.work, ignore_errors=True)

    def test_saudi_and_iranian_systems(self):
        import icu
        cases = {"ar_SA": ("23", "islamic-umalqura", "dd/MM/yy"), "fa_IR": ("22", "persian", "dd/MM/yyyy")}
        for name, (kind, calendar, picture) in cases.items():
            with self.subTest(name):
                drive = make_drive(os.path.join(self.work, name), "win10", "en_US",
                                   system={"Select": {"Current": (REG_DWORD, 1)},
                                           r"ControlSet001\Control\Nls\CodePage": {"ACP": (REG_SZ, "1256")}},
                                   default={r"Control Panel\International": {
                                       "sShortDate": (REG_SZ, picture), "iCalendarType": (REG_SZ, kind)}})
                install(drive, "win10", "en_US")
                cwd = fresh_folder(os.path.join(self.work, "run-" + name))
                done = subprocess.run(COMMANDS["linux"], cwd=cwd, stderr=subprocess.PIPE,
                                      env=locale_env(None, VIRUSHIST_SYSTEM_DRIVE=drive,
                                                     WINEPREFIX=os.path.join(self.work, "none")))
                check_no_sanitizer_report(self, done.stderr)
                self.assertEqual(done.returncode, 0, done.stderr)
                rows = parse_rows(self, read_history(cwd), "cp1256")
                # The logs' events are of 4 January 2001.
                counted = icu.Calendar.createInstance(icu.TimeZone.getGMT(),
                                                      icu.Locale("en_US@calendar=" + calendar))
                gregorian = icu.GregorianCalendar(icu.TimeZone.getGMT())
                gregorian.clear()
                gregorian.set(2001, 0, 4)
                counted.setTime(gregorian.getTime())
                fields = icu.UCalendarDateFields
                year = counted.get(fields.YEAR)
                date = "%02d/%02d/%s" % (counted.get(fields.DATE), counted.get(fields.MONTH) + 1,
                                         year % 100 if picture.endswith("/yy") else year)
                self.assertEqual([row[0] for row in rows], [date, date])


def make_large_software(path, keys, vendors=300, products=50, versions=20):
    """A SOFTWARE hive with the given keys and vendors x products x versions more
    (300,000), each with a 250-byte value: over 100 MB. (Few children a key: libhivex
    leaves a key's old subkey list behind each time it grows.)"""
    hives.make_hive(path, keys)
    import hivex
    h = hivex.Hivex(path, write=True)
    root = h.root()
    data = [{"key": "Data", "t": REG_BINARY, "value": b"x" * 250}]
    for vendor in range(vendors):
        vendor_node = h.node_add_child(root, "Vendor%04d" % vendor)
        for product in range(products):
            product_node = h.node_add_child(vendor_node, "Product%03d" % product)
            for version in range(versions):
                h.node_set_values(h.node_add_child(product_node, "%d.0" % version), data)
    h.commit(None)

if __name__ == "__main__":
    result = unittest.main(exit=False, verbosity=2).result
    failed = len(result.failures) + len(result.errors)
    print(f"{result.testsRun - failed} passed, {failed} failed")
    sys.exit(1 if failed else 0)
