#!/usr/bin/python3
"""The timeline end to end: stand-in system drives (and a FAT image made from
one) whose SYSTEM and SOFTWARE hives keep a time zone as Windows 10, Windows XP and
a Wine prefix keep it, each giving the UTC of the table Windows made
(tests/data/time_zones.tsv); a Wine prefix giving the same timeline from both
builds; and every timeline taken by Timesketch's JSONL importer's rules.
Run with Debian's /usr/bin/python3, which has python3-hivex."""
import datetime
import json
import os
import resource
import shlex
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time
import unittest

import hives
import icu
import images
import shadow_copies
from common import (COMMANDS, LOGGEN, ROOT, check_no_sanitizer_report, fresh_folder, locale_env, make_prefix,
                    read_history, require_windows_builds, WINDOWS_EXE)
from drive_test import install, make_drive, software_keys
from hives import REG_BINARY, REG_DWORD, REG_SZ

TABLE = os.path.join(ROOT, "tests", "data", "time_zones.tsv")
TZ_KEY = r"ControlSet002\Control\TimeZoneInformation"
ZONES_KEY = r"Microsoft\Windows NT\CurrentVersion\Time Zones"
YEARS = (2001, 2007, 2012, 2025)  # each at or after every zone's first Dynamic DST year



def setUpModule():
    require_windows_builds(WINDOWS_EXE)

def read_table():
    """The zones' registry data and the table's conversions: {key: (TZI, first year,
    year rules)}, {key: [(local, UTC or None)]}."""
    zones, rows = {}, {}
    with open(TABLE) as f:
        for line in f:
            fields = line.rstrip("\n").split("\t")
            if fields[0] == "zone":
                years = [bytes.fromhex(y) for y in fields[4].split(",") if y]
                zones[fields[1]] = (bytes.fromhex(fields[2]), int(fields[3]), years)
            else:
                rows.setdefault(fields[0], []).append((fields[1], None if fields[2] == "-" else fields[2]))
    return zones, rows


ZONES, ROWS = read_table()


def zone_keys(names):
    """The Time Zones keys of the SOFTWARE hive for the zones named."""
    keys = {}
    for name in names:
        tzi, first, years = ZONES[name]
        keys[ZONES_KEY + "\\" + name] = {"TZI": (REG_BINARY, tzi), "Std": (REG_SZ, name)}
        if years:
            dynamic = {"FirstEntry": (REG_DWORD, first), "LastEntry": (REG_DWORD, first + len(years) - 1)}
            dynamic.update({str(first + i): (REG_BINARY, rule) for i, rule in enumerate(years)})
            keys[ZONES_KEY + "\\" + name + "\\Dynamic DST"] = dynamic
    return keys


def time_zone_values(name, style):
    """TimeZoneInformation as each system keeps it: Windows 10 its values and key
    name, Windows XP its values and standard name, Wine the names alone."""
    tzi = ZONES[name][0]
    bias, standard_bias, daylight_bias = struct.unpack("<iii", tzi[:12])
    names = {"StandardName": (REG_SZ, name)}
    if style == "wine":
        return dict(names, TimeZoneKeyName=(REG_SZ, name))
    values = dict(names, Bias=(REG_DWORD, bias & 0xFFFFFFFF), StandardBias=(REG_DWORD, standard_bias & 0xFFFFFFFF),
                  DaylightBias=(REG_DWORD, daylight_bias & 0xFFFFFFFF), StandardStart=(REG_BINARY, tzi[12:28]),
                  DaylightStart=(REG_BINARY, tzi[28:44]))
    if style == "win10":
        values.update(TimeZoneKeyName=(REG_SZ, name), DynamicDaylightTimeDisabled=(REG_DWORD, 0))
    return values


def log_time(local):
    """A log's time column for "YYYY-MM-DDTHH:MM:SS"."""
    t = datetime.datetime.fromisoformat(local)
    return "%02X%02X%02X%02X%02X%02X" % (t.year - 1970, t.month - 1, t.day, t.hour, t.minute, t.second)


def check_importable(test, data):
    """Timesketch's JSONL importer's rules: each line one JSON object with message,
    datetime and timestamp_desc; a datetime it would parse when no timestamp is
    given; and UTF-8 throughout."""
    text = data.decode("utf-8")  # fails on anything that is not UTF-8
    test.assertTrue(text == "" or text.endswith("\n"))
    records = []
    for line in text.splitlines():
        record = json.loads(line)
        test.assertIsInstance(record, dict)
        for field in ("message", "datetime", "timestamp_desc"):
            test.assertIn(field, record)
        test.assertIn("timestamp", record)
        if record["datetime"] is not None:
            moment = datetime.datetime.fromisoformat(record["datetime"])
            test.assertEqual(int(moment.timestamp()) * 1000000, record["timestamp"])
        records.append(record)
    return records


class Timeline(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="vh-timeline-")

    def tearDown(self):
        shutil.rmtree(self.work, ignore_errors=True)

    def run_linux(self, system, **variables):
        cwd = fresh_folder(os.path.join(self.work, "run"))
        env = locale_env(None, VIRUSHIST_SYSTEM_DRIVE=system, VIRUSHIST_TIMELINE="timeline.jsonl", **variables)
        done = subprocess.run(COMMANDS["linux"], cwd=cwd, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        check_no_sanitizer_report(self, done.stderr, env)
        self.assertEqual(done.returncode, 0, done.stderr)
        with open(os.path.join(cwd, "timeline.jsonl"), "rb") as f:
            return check_importable(self, f.read())

    def drive_with_zone(self, name, style, extra=None, lines=None):
        """A Windows 10 stand-in drive keeping the zone as style says, whose log holds
        one line per table row of the zone in YEARS."""
        folder = os.path.join(self.work, "drive-win10")
        shutil.rmtree(folder, ignore_errors=True)
        system = {"Select": {"Current": (REG_DWORD, 2)},
                  r"ControlSet002\Control\Nls\CodePage": {"ACP": (REG_SZ, "1252")}}
        if name:
            system[TZ_KEY] = dict(time_zone_values(name, style), **(extra or {}))
        software = software_keys("win10", "en_US")
        software.update(zone_keys(ZONES))
        drive = make_drive(self.work, "win10", "en_US", software=software, system=system)
        install(drive, "win10", "en_US")
        logs = os.path.join(drive, "ProgramData", "Corvessa", "Tarvel Corporate Edition", "7.6", "logs")
        if lines is None:
            lines = [row for row in ROWS[name] if int(row[0][:4]) in YEARS]
        with open(os.path.join(logs, "a.log"), "w", newline="") as f:
            for local, _ in lines:
                f.write(log_time(local) + ",2,0,1,PC01,alice,,,0,0,0,0,0,\"d\"\r\n")
        return drive, lines

    def check_table(self, records, lines, zone):
        self.assertEqual(len(records), len(lines))
        for record, (local, utc) in zip(records, lines):
            self.assertEqual(record["local_time"], local)
            self.assertEqual(record["datetime"], utc + "Z" if utc else None, (zone, local))
            self.assertEqual(record["time_zone"], zone)

    def test_each_zone_gives_the_tables_utc(self):
        # (zone, how the system keeps it)
        cases = [("Pacific Standard Time", "win10"), ("W. Europe Standard Time", "wine"),
                 ("AUS Eastern Standard Time", "wine"), ("India Standard Time", "winxp"),
                 ("Nepal Standard Time", "win10"), ("Newfoundland Standard Time", "win10"),
                 ("Iran Standard Time", "win10"), ("Morocco Standard Time", "wine"),
                 ("Samoa Standard Time", "win10"), ("UTC", "wine"),
                 ("E. South America Standard Time", "win10"), ("Lord Howe Standard Time", "wine")]
        for zone, style in cases:
            with self.subTest(zone=zone, style=style):
                drive, lines = self.drive_with_zone(zone, style)
                records = self.run_linux(drive)
                # Windows XP names its zone by its standard name.
                self.check_table(records, lines, zone)

    def test_each_year_its_own_rule(self):
        # A 2001 US log: the pre-2007 rule (standard time on 20 March); a 2007
        # Australian log: 2007's (standard time from 25 March, where later years
        # keep daylight time to April); with Dynamic DST turned off, the system's
        # own rule for every year.
        cases = [("Pacific Standard Time", {}, "2001-03-20T12:00:00", "2001-03-20T20:00:00Z", "-08:00"),
                 ("Pacific Standard Time", {"DynamicDaylightTimeDisabled": (REG_DWORD, 1)},
                  "2001-03-20T12:00:00", "2001-03-20T19:00:00Z", "-07:00"),
                 ("AUS Eastern Standard Time", {}, "2007-03-30T12:00:00", "2007-03-30T02:00:00Z", "+10:00"),
                 ("AUS Eastern Standard Time", {}, "2008-03-30T12:00:00", "2008-03-30T01:00:00Z", "+11:00")]
        for zone, extra, local, utc, offset in cases:
            with self.subTest(zone=zone, local=local, extra=extra):
                drive, _ = self.drive_with_zone(zone, "win10", extra, [(local, utc)])
                record = self.run_linux(drive)[0]
                self.assertEqual((record["datetime"], record["utc_offset"]), (utc, offset))

    def test_without_time_zone_data_the_local_time_is_utc(self):
        drive, _ = self.drive_with_zone(None, None, lines=[("2001-03-20T12:00:00", None)])
        record = self.run_linux(drive)[0]
        self.assertEqual((record["datetime"], record["utc_offset"], record["time_zone"]),
                         ("2001-03-20T12:00:00Z", "+00:00", None))

    def test_image_gives_the_drives_timeline(self):
        drive, lines = self.drive_with_zone("AUS Eastern Standard Time", "win10")
        image = images.fat32_volume(os.path.join(self.work, "volume.img"), 64, drive)
        from_drive = self.run_linux(drive)
        from_image = self.run_linux(image)
        for record in from_drive + from_image:
            record.pop("system")
        for record in from_image:
            self.assertEqual(record.pop("volume"), "0")
        self.assertEqual(from_image, from_drive)
        self.check_table(from_image, lines, "AUS Eastern Standard Time")


class DeletedLogs(unittest.TestCase):
    """VIRUSHIST_RECOVER=deleted on a FAT and an NTFS image (the NTFS one is made as
    root, through ntfs-3g): a deleted log reaches the timeline alone, with its
    provenance; its lines that are no log lines are skipped and counted; a live log
    of the same name wins; the history file is that of the run without recovery."""

    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="vh-deleted-")
        os.chmod(self.work, 0o755)

    def tearDown(self):
        shutil.rmtree(self.work, ignore_errors=True)

    def run_image(self, image, **variables):
        cwd = fresh_folder(os.path.join(self.work, "run"))
        env = locale_env(None, VIRUSHIST_SYSTEM_DRIVE=image, **variables)
        done = subprocess.run(COMMANDS["linux"], cwd=cwd, env=env, capture_output=True)
        check_no_sanitizer_report(self, done.stderr, env)
        timeline = None
        if os.path.isfile(os.path.join(cwd, "t.jsonl")):
            with open(os.path.join(cwd, "t.jsonl"), "rb") as f:
                timeline = check_importable(self, f.read())
        return done.returncode, read_history(cwd), timeline, done.stderr.decode()

    def check_image(self, image, deleted_name, live_names):
        status, history, _, _ = self.run_image(image)
        self.assertEqual(status, 0)
        status, recovered_history, records, stderr = self.run_image(
            image, VIRUSHIST_TIMELINE="t.jsonl", VIRUSHIST_RECOVER="deleted")
        self.assertEqual(status, 0, stderr)
        self.assertEqual(recovered_history, history)
        recovered = [r for r in records if "recovered" in r]
        self.assertEqual({r["source"].rsplit("\\", 1)[1] for r in recovered}, {deleted_name})
        self.assertEqual({r["recovered"] for r in recovered}, {"deleted"})
        self.assertEqual([r["line"] for r in recovered], [1, 3])
        self.assertEqual(recovered[0]["virus_name"], "Gone")
        self.assertEqual({r["source"].rsplit("\\", 1)[1] for r in records if "recovered" not in r}, live_names)
        self.assertIn(deleted_name + ": recovered (deleted): 2 lines kept, 1 skipped", stderr)
        # Without a timeline, or from a folder, the request is refused before
        # anything is touched.
        self.assertEqual(self.run_image(image, VIRUSHIST_RECOVER="deleted")[:3], (7, None, None))

    def logs_folder(self, drive):
        return os.path.join(drive, "ProgramData", "Corvessa", "Tarvel Corporate Edition", "7.6", "logs")

    def make_drive(self):
        drive = make_drive(self.work, "win10", "en_US")
        install(drive, "win10", "en_US")
        with open(os.path.join(self.logs_folder(drive), "old1.log"), "wb") as f:
            f.write(b"1F0B19000000,5,0,1,PC01,alice,Gone,C:\\x.doc,5,1,5,256,0,\"d\"\r\n"
                    b"\x07\x00reused cluster bytes,5\r\n"
                    b"1F0B19000100,2,0,1,PC01,alice\r\n")
        return drive

    def test_fat_image(self):
        drive = self.make_drive()
        image = images.fat32_volume(os.path.join(self.work, "fat.img"), 64, drive)
        logs = "::/ProgramData/Corvessa/Tarvel Corporate Edition/7.6/logs/"
        subprocess.run(["mdel", "-i", image, logs + "old1.log"], check=True, env=images.MTOOLS_ENV)
        # A log deleted and written again: the live one wins.
        subprocess.run(["mdel", "-i", image, logs + "a.log"], check=True, env=images.MTOOLS_ENV)
        subprocess.run(["mcopy", "-i", image, os.path.join(self.logs_folder(drive), "a.log"), logs + "a.log"],
                       check=True, env=images.MTOOLS_ENV)
        self.check_image(image, "?ld1.log", {"a.log"})
        # Shadow copies asked of a volume that has none (FAT cannot): one line says
        # so, naming the image, as every line does.
        status, _, _, stderr = self.run_image(image, VIRUSHIST_TIMELINE="t.jsonl", VIRUSHIST_RECOVER="shadows")
        self.assertEqual(status, 0, stderr)
        self.assertEqual(stderr, f"virushist: {image}: VIRUSHIST_RECOVER=shadows: the Windows volume holds no "
                                 "shadow copies\n")

    @unittest.skipUnless(os.geteuid() == 0, "ntfs-3g fills the image as root")
    def test_ntfs_image(self):
        drive = self.make_drive()
        image = images.ntfs_volume(os.path.join(self.work, "ntfs.img"), 24, drive)
        with images.mounted_ntfs(image) as mount:
            os.remove(os.path.join(self.logs_folder(mount), "old1.log"))
        self.check_image(image, "old1.log", {"a.log"})
        with self.subTest("a folder"):
            cwd = fresh_folder(os.path.join(self.work, "folder"))
            env = locale_env(None, VIRUSHIST_SYSTEM_DRIVE=drive, VIRUSHIST_TIMELINE="t.jsonl",
                             VIRUSHIST_RECOVER="deleted")
            done = subprocess.run(COMMANDS["linux"], cwd=cwd, env=env, capture_output=True)
            self.assertEqual(done.returncode, 7)
            self.assertIn(b"no image", done.stderr)
            self.assertEqual(os.listdir(cwd), [])


def log_event(local, name, event=5):
    return (f"{log_time(local)},{event},0,1,PC01,alice,{name},C:\\x.doc,5,1,5,256,0,\"d\","
            ",,,,,,,,,0,0,,20011225.001,,,,,,\r\n").encode()


@unittest.skipUnless(os.geteuid() == 0, "ntfs-3g fills the image as root")
class ShadowCopies(unittest.TestCase):
    """VIRUSHIST_RECOVER=shadows on an NTFS volume with two shadow copies the tests
    write (shadow_copies.py), checked by libvshadow before the tool is tried. The
    older copy holds a log deleted since; the newer one a shorter version of a live
    log, cut in its last line. A line already written (the live volume first, then
    the copies newest first) is written once; the volume reads the same raw, in a
    GPT disk, and as an E01 and a QCOW2 of it; a damaged copy is named, and the
    others still read."""

    OLD = [log_event("2026-10-30T09:00:00", "Gone"), log_event("2026-10-30T09:05:00", "", 2),
           log_event("2026-10-31T10:00:00", "Gone2")]
    B = [log_event("2026-10-31T11:00:00", "B1"), log_event("2026-11-05T12:00:00", "B2"),
         log_event("2026-11-07T13:00:00", "B3"), log_event("2026-11-09T14:00:00", "B4")]
    CREATED = [datetime.datetime(2026, 11, 1, 3, 0, 0), datetime.datetime(2026, 11, 8, 3, 0, 0)]

    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix="vh-shadows-")
        os.chmod(cls.work, 0o755)
        drive = make_drive(cls.work, "win10", "en_US")
        install(drive, "win10", "en_US")
        logs = "ProgramData/Corvessa/Tarvel Corporate Edition/7.6/logs"
        with open(os.path.join(drive, logs, "old.log"), "wb") as f:
            f.write(b"".join(cls.OLD))
        with open(os.path.join(drive, logs, "b.log"), "wb") as f:
            f.write(cls.B[0])
        cls.volume = images.ntfs_volume(os.path.join(cls.work, "volume.img"), 24, drive)
        shadows = shadow_copies.ShadowCopies(cls.volume, cls.work)
        shadows.snapshot(cls.CREATED[0])
        with images.mounted_ntfs(cls.volume) as mount:
            os.remove(os.path.join(mount, logs, "old.log"))
            with open(os.path.join(mount, logs, "b.log"), "ab") as f:
                f.write(cls.B[1] + cls.B[2][:20])
        shadows.snapshot(cls.CREATED[1])
        with images.mounted_ntfs(cls.volume) as mount:
            with open(os.path.join(mount, logs, "b.log"), "ab") as f:
                f.write(cls.B[2][20:] + cls.B[3])
        shadows.write()
        shadows.check()
        shadows.remove_snapshots()
        cls.shadows = shadows
        disk = os.path.join(cls.work, "disk.img")
        images.gpt_disk(disk, [(24, "0700", cls.volume)])
        cls.images = {"volume": cls.volume, "gpt": disk,
                      "gpt-e01": images.convert(disk, "e01", os.path.join(cls.work, "disk")),
                      "gpt-qcow2": images.convert(disk, "qcow2", os.path.join(cls.work, "disk"))}

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.work, ignore_errors=True)

    def run_image(self, image, **variables):
        cwd = fresh_folder(os.path.join(self.work, "run"))
        env = locale_env(None, VIRUSHIST_SYSTEM_DRIVE=image, VIRUSHIST_TIMELINE="t.jsonl", **variables)
        done = subprocess.run(COMMANDS["linux"], cwd=cwd, env=env, capture_output=True)
        check_no_sanitizer_report(self, done.stderr, env)
        with open(os.path.join(cwd, "t.jsonl"), "rb") as f:
            records = check_importable(self, f.read())
        return done.returncode, read_history(cwd), records, done.stderr.decode()

    @staticmethod
    def recovered(records):
        return [(r["recovered"], r.get("shadow_copy"), r["source"].rsplit("\\", 1)[1], r["line"],
                 r.get("virus_name")) for r in records if "recovered" in r]

    def test_each_line_once_newest_copy_first(self):
        status, history, plain, _ = self.run_image(self.volume)
        self.assertEqual(status, 0)
        results = {}
        for name, image in self.images.items():
            with self.subTest(image=name):
                status, recovered_history, records, stderr = self.run_image(image, VIRUSHIST_RECOVER="shadows")
                self.assertEqual(status, 0, stderr)
                self.assertEqual(recovered_history, history)
                self.assertEqual([r for r in records if "recovered" not in r],
                                 [dict(r, system=image) for r in plain] if name == "volume" else
                                 [r for r in records if "recovered" not in r])
                self.assertEqual(self.recovered(records), [
                    ("shadow", 2, "b.log", 3, ""),
                    ("shadow", 1, "old.log", 1, "Gone"), ("shadow", 1, "old.log", 2, None),
                    ("shadow", 1, "old.log", 3, "Gone2")])
                shadow = [r for r in records if "recovered" in r]
                self.assertEqual(shadow[0]["columns"][0], log_time("2026-11-07T13:00:00"))
                self.assertEqual(shadow[0]["columns"][-1], "P")  # cut where the copy was made
                self.assertEqual([r["shadow_copy_time"] for r in shadow],
                                 ["2026-11-08T03:00:00Z"] + ["2026-11-01T03:00:00Z"] * 3)
                self.assertIn("recovered (shadow copy 2): 2 logs, 1 lines new, 4 already written", stderr)
                self.assertIn("recovered (shadow copy 1): 3 logs, 3 lines new, 3 already written", stderr)
                results[name] = [{k: v for k, v in r.items() if k not in ("system", "volume")} for r in records]
        for name in ("gpt", "gpt-e01", "gpt-qcow2"):
            self.assertEqual(results[name], results["volume"], name)

    def test_a_deleted_log_recovered_is_not_written_again(self):
        status, _, records, stderr = self.run_image(self.volume, VIRUSHIST_RECOVER="deleted,shadows")
        self.assertEqual(status, 0, stderr)
        self.assertEqual(self.recovered(records), [
            ("deleted", None, "old.log", 1, "Gone"), ("deleted", None, "old.log", 2, None),
            ("deleted", None, "old.log", 3, "Gone2"), ("shadow", 2, "b.log", 3, "")])

    def test_a_damaged_copy_is_named_and_the_others_read(self):
        # Copy 1 damaged: copy 2 reads. Copy 2 damaged: copy 1 reads through it, and
        # is skipped with it.
        for number, skipped in ((1, {1}), (2, {1, 2})):
            with self.subTest(damaged=number):
                image = os.path.join(self.work, "damaged.img")
                shutil.copyfile(self.volume, image)
                damaged = shadow_copies.ShadowCopies.__new__(shadow_copies.ShadowCopies)
                damaged.volume, damaged.size = image, self.shadows.size
                damaged.catalog_slots = self.shadows.catalog_slots
                damaged.damage_catalog(number)
                status, _, records, stderr = self.run_image(image, VIRUSHIST_RECOVER="shadows")
                self.assertEqual(status, 4, stderr)
                lines = [line for line in stderr.splitlines() if "is skipped" in line]
                self.assertEqual(len(lines), len(skipped), stderr)
                self.assertIn(f"shadow copy {number} is skipped: its catalog entry points past the volume's end",
                              stderr)
                self.assertEqual({r[1] for r in self.recovered(records)}, {1, 2} - skipped)
                self.assertEqual(len([r for r in records if "recovered" not in r]), 6)


class IanaCrossCheck(unittest.TestCase):
    """The table against IANA's history (ICU), on the 15th of each month at noon,
    where no zone changes its offset. Years before a zone's first Dynamic DST year
    are left out (the table has Wine's answer there, the zone's TZI). Where IANA
    differs from Windows' own rules, the difference is named here."""

    IANA = {"Pacific Standard Time": "America/Los_Angeles", "W. Europe Standard Time": "Europe/Berlin",
            "AUS Eastern Standard Time": "Australia/Sydney", "India Standard Time": "Asia/Kolkata",
            "Nepal Standard Time": "Asia/Kathmandu", "Newfoundland Standard Time": "America/St_Johns",
            "Iran Standard Time": "Asia/Tehran", "Morocco Standard Time": "Africa/Casablanca",
            "Samoa Standard Time": "Pacific/Apia", "UTC": "Etc/UTC",
            "E. South America Standard Time": "America/Sao_Paulo",
            "Lord Howe Standard Time": "Australia/Lord_Howe"}
    # W. Europe has one rule, today's, for every year: in 1995 daylight time ended
    # in September. Morocco's Dynamic DST years do not have the Ramadan breaks IANA
    # has, in the years Ramadan fell in summer.
    DIFFERENCES = {"W. Europe Standard Time": {1995},
                   "Morocco Standard Time": {2012, 2013, 2014, 2015, 2016, 2017, 2018,
                                             2031, 2032, 2033, 2034, 2035}}

    def test_table_agrees_with_iana_but_where_named(self):
        differences = {}
        for name, rows in ROWS.items():
            zone = icu.TimeZone.createTimeZone(self.IANA[name])
            first = ZONES[name][1] if ZONES[name][2] else 0
            for local, utc in rows:
                if not local.endswith("-15T12:00:00") or int(local[:4]) < first:
                    continue
                moment = datetime.datetime.fromisoformat(utc).replace(tzinfo=datetime.timezone.utc)
                raw, daylight = zone.getOffset(moment.timestamp(), False)
                if moment + datetime.timedelta(milliseconds=raw + daylight) != \
                        datetime.datetime.fromisoformat(local).replace(tzinfo=datetime.timezone.utc):
                    differences.setdefault(name, set()).add(int(local[:4]))
        self.assertEqual(differences, self.DIFFERENCES)


class Outputs(unittest.TestCase):
    """The two outputs on a prefix, with both builds: whole records after a failed
    write (a full file system; a file size limit, Linux only: under Wine the limit's
    signal ends the process), a refused run that leaves both as they were, the
    timeline on standard output, and standard error's lines."""

    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix="vh-outputs-")
        cls.prefix = os.path.join(cls.work, "prefix")
        cls.env = locale_env("en_US", WINEPREFIX=cls.prefix, VIRUSHIST_TIMELINE="t.jsonl")
        # A folder not yet made, and the one above it: loggen makes them.
        logs = os.path.join(cls.work, "corpus", "logs")
        subprocess.run([LOGGEN, "--out", logs, "--seed", "9", "--bytes", "600000", "--files", "1",
                        "--virus-percent", "20", "--name-base", "40"], check=True)
        make_prefix(cls.prefix, logs, cls.env)

    @classmethod
    def tearDownClass(cls):
        subprocess.run(["wineserver", "-k"], env=cls.env, check=False)
        shutil.rmtree(cls.work, ignore_errors=True)

    def export(self, build, cwd, env=None, **popen):
        done = subprocess.run(COMMANDS[build], cwd=cwd, env=env or self.env, capture_output=True, **popen)
        if build == "linux":
            check_no_sanitizer_report(self, done.stderr)
        return done

    def full_run(self, build):
        cwd = fresh_folder(os.path.join(self.work, "full-" + build))
        self.assertEqual(self.export(build, cwd).returncode, 0)
        with open(os.path.join(cwd, "t.jsonl"), "rb") as f:
            return read_history(cwd), f.read()

    def check_cut(self, cwd, history, timeline):
        """Whole rows, the first of the full run's; whole records, each a line of
        the full timeline in its order, none missing up to the cut."""
        data = read_history(cwd)
        self.assertTrue(data.endswith(b"\r\n"))
        self.assertTrue(history.startswith(data))
        with open(os.path.join(cwd, "t.jsonl"), "rb") as f:
            cut = f.read()
        self.assertTrue(cut.endswith(b"\n"))
        self.assertTrue(timeline.startswith(cut))
        self.assertLess(len(cut), len(timeline))
        records = check_importable(self, cut)
        self.assertEqual([r["line"] for r in records], list(range(1, len(records) + 1)))

    def test_whole_records_on_a_full_file_system(self):
        for build in ("linux", "windows"):
            with self.subTest(build=build):
                history, timeline = self.full_run(build)
                self.assertGreater(len(timeline), 400000)
                cwd = os.path.join(self.work, "tmpfs-" + build)
                os.makedirs(cwd)
                subprocess.run(["mount", "-t", "tmpfs", "-o", "size=256k", "tmpfs", cwd], check=True)
                try:
                    done = self.export(build, cwd)
                    self.assertEqual(done.returncode, 4, done.stderr)
                    self.check_cut(cwd, history, timeline)
                finally:
                    subprocess.run(["umount", cwd], check=True)

    def test_whole_records_under_a_file_size_limit(self):
        history, timeline = self.full_run("linux")
        cwd = fresh_folder(os.path.join(self.work, "limit"))
        done = self.export("linux", cwd, preexec_fn=lambda: resource.setrlimit(resource.RLIMIT_FSIZE, (300000, 300000)))
        self.assertEqual(done.returncode, 4, done.stderr)
        self.check_cut(cwd, history, timeline)
        self.assertIn(b"t.jsonl: a write failed (File too large)", done.stderr)

    def test_a_refused_run_leaves_both_as_they_were(self):
        # Another run holding the folder, or a history file that cannot be created:
        # exit 2, neither file created, emptied or changed in time, and lines that
        # say which system and which file.
        def hold(cwd):
            with open(os.path.join(cwd, "VirusHist.csv"), "wb") as f:
                f.write(b"old\r\n")
            os.utime(os.path.join(cwd, "VirusHist.csv"), (1000000000, 1000000000))
            # In a session of its own, so that flock and its sleep end together.
            holder = subprocess.Popen(["flock", "-x", "VirusHist.csv", "sleep", "600"], cwd=cwd,
                                      start_new_session=True)
            deadline = time.monotonic() + 30
            while subprocess.run(["flock", "-n", "-x", "VirusHist.csv", "true"], cwd=cwd).returncode == 0:
                self.assertLess(time.monotonic(), deadline)
                time.sleep(0.05)
            return holder
        def folder(cwd):
            os.mkdir(os.path.join(cwd, "VirusHist.csv"))
        for build in ("linux", "windows"):
            for cause in (hold, folder):
                if cause is hold and build == "windows":
                    continue  # Windows holds by a named mutex: the fault suite's concurrent runs show it
                for timeline_before in (None, b"kept\n"):
                    with self.subTest(build=build, cause=cause.__name__, timeline=timeline_before):
                        cwd = fresh_folder(os.path.join(self.work, "refused"))
                        if timeline_before is not None:
                            with open(os.path.join(cwd, "t.jsonl"), "wb") as f:
                                f.write(timeline_before)
                            os.utime(os.path.join(cwd, "t.jsonl"), (1000000000, 1000000000))
                        holder = cause(cwd)
                        try:
                            done = self.export(build, cwd)
                        finally:
                            if holder:
                                os.killpg(holder.pid, signal.SIGKILL)
                                holder.wait()
                        self.assertEqual(done.returncode, 2, done.stderr)
                        history = os.path.join(cwd, "VirusHist.csv")
                        if cause is folder:
                            self.assertTrue(os.path.isdir(history))
                        else:
                            with open(history, "rb") as f:
                                self.assertEqual(f.read(), b"old\r\n")
                            self.assertEqual(os.stat(history).st_mtime, 1000000000)
                        path = os.path.join(cwd, "t.jsonl")
                        if timeline_before is None:
                            self.assertFalse(os.path.exists(path))
                        else:
                            with open(path, "rb") as f:
                                self.assertEqual(f.read(), timeline_before)
                            self.assertEqual(os.stat(path).st_mtime, 1000000000)
                        lines = done.stderr.decode().splitlines()
                        self.assertIn("VirusHist.csv: ", lines[-1])
                        if build == "linux":
                            for line in lines:
                                self.assertTrue(line.startswith("virushist: " + self.prefix + ": "), line)
                        if cause is folder:
                            self.assertIn("Is a directory" if build == "linux" else "VirusHist.csv: cannot be",
                                          lines[-1])

    def test_timeline_on_standard_output(self):
        # Into jq whole; into head, which closes the pipe after one line: exit 4, the
        # history file whole all the same. Under Wine too, with LF line ends.
        env = dict(self.env, VIRUSHIST_TIMELINE="-")
        for build in ("linux", "windows"):
            with self.subTest(build=build):
                history, timeline = self.full_run(build)
                cwd = fresh_folder(os.path.join(self.work, "stdout-" + build))
                done = self.export(build, cwd, env)
                self.assertEqual(done.returncode, 0, done.stderr)
                self.assertEqual(done.stdout, timeline)
                self.assertNotIn(b"\r\n", done.stdout)
                self.assertEqual(read_history(cwd), history)
                self.assertEqual(os.listdir(cwd), ["VirusHist.csv"])
                command = " ".join(map(shlex.quote, COMMANDS[build]))
                jq = subprocess.run(command + " | jq -c .", shell=True, cwd=cwd, env=env, capture_output=True)
                self.assertEqual(jq.returncode, 0, jq.stderr)
                self.assertEqual(jq.stdout.count(b"\n"), timeline.count(b"\n"))
                head = subprocess.run(f"{command} | head -1; exit ${{PIPESTATUS[0]}}", shell=True,
                                      executable="/bin/bash", cwd=cwd, env=env, capture_output=True)
                self.assertEqual(head.returncode, 4, head.stderr)
                self.assertEqual(json.loads(head.stdout), json.loads(timeline.split(b"\n")[0]))
                self.assertEqual(read_history(cwd), history)

    def test_strict_values(self):
        # A volume with a prefix names nothing the run reads: exit 7, one line.
        cwd = fresh_folder(os.path.join(self.work, "strict"))
        done = self.export("linux", cwd, dict(self.env, VIRUSHIST_SYSTEM_VOLUME="2048"))
        self.assertEqual(done.returncode, 7)
        self.assertEqual(done.stderr.decode().count("\n"), 1, done.stderr)
        self.assertIn("VIRUSHIST_SYSTEM_VOLUME=2048", done.stderr.decode())
        self.assertEqual(os.listdir(cwd), [])
        # Empty is unset; recovery words in any order, a repeated one once: from a
        # prefix each is refused for want of an image, not for its words.
        self.assertEqual(self.export("linux", cwd, dict(self.env, VIRUSHIST_SYSTEM_VOLUME="",
                                                        VIRUSHIST_RECOVER="")).returncode, 0)
        for value in ("shadows,deleted", "deleted,deleted"):
            done = self.export("linux", cwd, dict(self.env, VIRUSHIST_RECOVER=value))
            self.assertEqual(done.returncode, 7)
            self.assertNotIn("is neither", done.stderr.decode())


class PrefixBothBuilds(unittest.TestCase):
    """A prefix made, and both builds run, in one host zone: Wine keeps the zone's
    name and takes its rules from the host. Wine's GetTimeZoneInformationForYear
    gives a year before the zone's first Dynamic DST year (Pacific: 2000) the TZI,
    not the first year's rule as Windows does: those records are compared apart."""

    def test_same_timeline_from_both_builds(self):
        work = tempfile.mkdtemp(prefix="vh-timeline-prefix-")
        prefix = os.path.join(work, "prefix")
        env = locale_env("en_US", WINEPREFIX=prefix, TZ="America/Los_Angeles", VIRUSHIST_TIMELINE="t.jsonl")
        try:
            make_prefix(prefix, os.path.join(ROOT, "samples", "logs"), env)
            timelines, histories = {}, set()
            without = dict(env)
            without.pop("VIRUSHIST_TIMELINE")
            for build in ("linux", "windows"):
                # The history file is the same with the timeline and without it.
                for run_env in (without, env):
                    cwd = fresh_folder(os.path.join(work, build))
                    done = subprocess.run(COMMANDS[build], cwd=cwd, env=run_env, stdout=subprocess.PIPE,
                                          stderr=subprocess.PIPE)
                    check_no_sanitizer_report(self, done.stderr)
                    self.assertEqual(done.returncode, 0)
                    with open(os.path.join(cwd, "VirusHist.csv"), "rb") as f:
                        histories.add(f.read())
                with open(os.path.join(cwd, "t.jsonl"), "rb") as f:
                    timelines[build] = check_importable(self, f.read())
            self.assertEqual(len(histories), 1)
            linux, windows = timelines["linux"], timelines["windows"]
            self.assertEqual(len(linux), len(windows))
            self.assertGreater(len(linux), 20)
            before_first_year = 0
            for a, b in zip(linux, windows):
                self.assertEqual(a.pop("system"), prefix)
                b.pop("system")
                if a["local_time"] and a["local_time"] < "2000":
                    before_first_year += 1
                    a, b = dict(a), dict(b)
                    for field in ("datetime", "timestamp", "utc_offset"):
                        a.pop(field), b.pop(field)
                self.assertEqual(a, b)
            self.assertEqual(linux[0]["time_zone"], "Pacific Standard Time")
        finally:
            subprocess.run(["wineserver", "-k"], env=env, check=False)
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    result = unittest.main(exit=False, verbosity=2).result
    failed = len(result.failures) + len(result.errors)
    print(f"{result.testsRun - failed} passed, {failed} failed")
    sys.exit(1 if failed else 0)
