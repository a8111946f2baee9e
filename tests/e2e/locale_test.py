#!/usr/bin/python3
"""Every code page and locale, end to end: for each locale a fresh Wine prefix made
under it, with the product installed under names in its language and logs in its
code page. The Windows build under Wine must give the right file name and location
columns, and the Linux build on the same prefix must write the same file, byte for
byte, with the locale in its environment and with none at all, but for the date of a
calendar Wine ignores. Run with Debian's /usr/bin/python3, which has python3-icu."""
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

from common import (COMMANDS, KEY, ROOT, check_no_sanitizer_report, fresh_folder, locale_env,
                    parse_rows, read_history, registry_view, require_windows_builds, WINDOWS_EXE)

PRODUCT = os.path.join("drive_c", "ProgramData", "Corvessa", "Tarvel Corporate Edition")

# locale: (Python codec of its ANSI code page, home directory, version folder, the
# names of two logs, computer, user, virus, [(path, container, file name, location)],
# a description with a comma). Paths hold characters whose second byte is 0x5C
# where the code page has them (932: 表 能 ソ; 936: 乗 俓; 950: 許 功).
LOCALES = {
    "ja_JP": ("cp932", "C:\\ソフト\\表計算", "7.6 ソフト", ["ログ表.log", "予備.log"],
              "サーバー", "山田", "ウイルス表",
              [("C:\\データ\\表.doc", False, "表.doc", "C:\\データ\\"),
               ("C:\\ソフト\\能力.xls", False, "能力.xls", "C:\\ソフト\\"),
               ("C:\\メール\\箱.zip>文書\\表.doc", True, "表.doc", "C:\\メール\\箱.zip>文書\\"),
               ("C:\\メール\\箱表.zip>能.doc", True, "能.doc", "C:\\メール\\箱表.zip"),
               ("C:\\営業, 東京\\ソ表", False, "ソ表", "C:\\営業, 東京\\")],
              "説明, カンマ"),
    "zh_CN": ("gbk", "C:\\程序\\乗日志", "7.6 版本", ["日志乗.log", "备份.log"],
              "服务器", "张三", "病毒乗",
              [("C:\\数据\\乗.doc", False, "乗.doc", "C:\\数据\\"),
               ("C:\\俓\\报告.xls", False, "报告.xls", "C:\\俓\\"),
               ("C:\\邮件\\箱.zip>文档\\俓.doc", True, "俓.doc", "C:\\邮件\\箱.zip>文档\\"),
               ("C:\\邮件\\箱俓.zip>乗.doc", True, "乗.doc", "C:\\邮件\\箱俓.zip"),
               ("C:\\销售, 北京\\乗俓", False, "乗俓", "C:\\销售, 北京\\")],
              "说明, 逗号"),
    "zh_TW": ("cp950", "C:\\程式\\許功", "7.6 版本", ["日誌許.log", "備份.log"],
              "伺服器", "陳大文", "病毒功",
              [("C:\\資料\\許.doc", False, "許.doc", "C:\\資料\\"),
               ("C:\\功能\\報告.xls", False, "報告.xls", "C:\\功能\\"),
               ("C:\\郵件\\箱.zip>文件\\許.doc", True, "許.doc", "C:\\郵件\\箱.zip>文件\\"),
               ("C:\\郵件\\箱功.zip>許.doc", True, "許.doc", "C:\\郵件\\箱功.zip"),
               ("C:\\銷售, 台北\\許功", False, "許功", "C:\\銷售, 台北\\")],
              "說明, 逗號"),
    "ko_KR": ("cp949", "C:\\프로그램\\한글", "7.6 버전", ["로그.log", "백업.log"],
              "서버", "김철수", "바이러스",
              [("C:\\자료\\보고서.doc", False, "보고서.doc", "C:\\자료\\"),
               ("C:\\메일\\상자.zip>문서\\표.doc", True, "표.doc", "C:\\메일\\상자.zip>문서\\"),
               ("C:\\메일\\상자.zip>한.doc", True, "한.doc", "C:\\메일\\상자.zip"),
               ("C:\\영업, 서울\\한글", False, "한글", "C:\\영업, 서울\\")],
              "설명, 쉼표"),
    "ru_RU": ("cp1251", "C:\\Программы\\Тарвел", "7.6 версия", ["журнал.log", "архив.log"],
              "Сервер", "Иванов", "Вирус.Ж",
              [("C:\\Данные\\отчёт.doc", False, "отчёт.doc", "C:\\Данные\\"),
               ("C:\\Почта\\ящик.zip>документ.doc", True, "документ.doc", "C:\\Почта\\ящик.zip"),
               ("C:\\Продажи, Москва\\Ж", False, "Ж", "C:\\Продажи, Москва\\")],
              "описание, запятая"),
    "he_IL": ("cp1255", "C:\\תוכנות\\טרוול", "7.6 גרסה", ["יומן.log", "גיבוי.log"],
              "שרת", "כהן", "וירוס.\u05e9\u05c1\u05b8",
              [("C:\\נתונים\\דוח.doc", False, "דוח.doc", "C:\\נתונים\\"),
               ("C:\\דואר\\תיבה.zip>מסמך.doc", True, "מסמך.doc", "C:\\דואר\\תיבה.zip"),
               ("C:\\מכירות, חיפה\\\u05e9\u05c1\u05b8לוֹם", False, "\u05e9\u05c1\u05b8לוֹם",
                "C:\\מכירות, חיפה\\")],
              "תיאור, פסיק"),
    "vi_VN": ("cp1258", "C:\\Ch\u01b0\u01a1ng tri\u0300nh\\Tarvel", "7.6 ba\u0309n", ["Nh\u00e2\u0323t ky\u0301.log", "Sao l\u01b0u.log"],
              "Ma\u0301y chu\u0309", "Nguy\u00ea\u0303n", "Vi\u0301 ru\u0301t",
              [("C:\\D\u01b0\u0303 li\u00ea\u0323u\\ba\u0301o ca\u0301o.doc", False, "ba\u0301o ca\u0301o.doc",
                "C:\\D\u01b0\u0303 li\u00ea\u0323u\\"),
               ("C:\\Th\u01b0\\h\u00f4\u0323p.zip>ta\u0300i li\u00ea\u0323u.doc", True, "ta\u0300i li\u00ea\u0323u.doc",
                "C:\\Th\u01b0\\h\u00f4\u0323p.zip"),
               ("C:\\Ba\u0301n ha\u0300ng, Ha\u0300 N\u00f4\u0323i\\\u01a1", False, "\u01a1",
                "C:\\Ba\u0301n ha\u0300ng, Ha\u0300 N\u00f4\u0323i\\")],
              "m\u00f4 ta\u0309, d\u00e2\u0301u ph\u00e2\u0309y"),
    "th_TH": ("cp874", "C:\\โปรแกรม\\ทาร์เวล", "7.6 รุ่น", ["บันทึก.log", "สำรอง.log"],
              "เซิร์ฟเวอร์", "สมชาย", "ไวรัส",
              [("C:\\ข้อมูล\\รายงาน.doc", False, "รายงาน.doc", "C:\\ข้อมูล\\"),
               ("C:\\จดหมาย\\กล่อง.zip>เอกสาร.doc", True, "เอกสาร.doc", "C:\\จดหมาย\\กล่อง.zip"),
               ("C:\\ฝ่ายขาย, ภูเก็ต\\ก", False, "ก", "C:\\ฝ่ายขาย, ภูเก็ต\\")],
              "คำอธิบาย, จุลภาค"),
    "el_GR": ("cp1253", "C:\\Προγράμματα\\Τάρβελ", "7.6 έκδοση", ["ημερολόγιο.log", "αντίγραφο.log"],
              "Διακομιστής", "Παπαδόπουλος", "Ιός.Ω",
              [("C:\\Δεδομένα\\αναφορά.doc", False, "αναφορά.doc", "C:\\Δεδομένα\\"),
               ("C:\\Αλληλογραφία\\κουτί.zip>έγγραφο.doc", True, "έγγραφο.doc", "C:\\Αλληλογραφία\\κουτί.zip"),
               ("C:\\Πωλήσεις, Αθήνα\\Ω", False, "Ω", "C:\\Πωλήσεις, Αθήνα\\")],
              "περιγραφή, κόμμα"),
    "pl_PL": ("cp1250", "C:\\Programy\\Tarvel Łódź", "7.6 wersja", ["dziennik ś.log", "kopia ż.log"],
              "Serwer", "Wójcik", "Wirus.Ł",
              [("C:\\Dane\\raport ą.doc", False, "raport ą.doc", "C:\\Dane\\"),
               ("C:\\Poczta\\skrzynka.zip>dokument ę.doc", True, "dokument ę.doc", "C:\\Poczta\\skrzynka.zip"),
               ("C:\\Sprzedaż, Kraków\\Ź", False, "Ź", "C:\\Sprzedaż, Kraków\\")],
              "opis, przecinek"),
    "tr_TR": ("cp1254", "C:\\Programlar\\Tarvel ışık", "7.6 sürüm", ["günlük.log", "yedek ğ.log"],
              "Sunucu", "Yılmaz", "Virüs.Ş",
              [("C:\\Veri\\rapor ı.doc", False, "rapor ı.doc", "C:\\Veri\\"),
               ("C:\\Posta\\kutu.zip>belge İ.doc", True, "belge İ.doc", "C:\\Posta\\kutu.zip"),
               ("C:\\Satış, İzmir\\Ğ", False, "Ğ", "C:\\Satış, İzmir\\")],
              "açıklama, virgül"),
    "lt_LT": ("cp1257", "C:\\Programos\\Tarvel ąčę", "7.6 versija", ["žurnalas.log", "kopija ų.log"],
              "Serveris", "Kazlauskas", "Virusas.Ž",
              [("C:\\Duomenys\\ataskaita š.doc", False, "ataskaita š.doc", "C:\\Duomenys\\"),
               ("C:\\Paštas\\dėžė.zip>dokumentas ū.doc", True, "dokumentas ū.doc", "C:\\Paštas\\dėžė.zip"),
               ("C:\\Pardavimai, Kaunas\\Į", False, "Į", "C:\\Pardavimai, Kaunas\\")],
              "aprašymas, kablelis"),
    "ar_SA": ("cp1256", "C:\\برامج\\سجل", "7.6 إصدار", ["سجل.log", "نسخة.log"],
              "خادم", "محمد", "فيروس.ع",
              [("C:\\بيانات\\تقرير.doc", False, "تقرير.doc", "C:\\بيانات\\"),
               ("C:\\بريد\\صندوق.zip>مستند.doc", True, "مستند.doc", "C:\\بريد\\صندوق.zip"),
               ("C:\\مبيعات, الرياض\\ع", False, "ع", "C:\\مبيعات, الرياض\\")],
              "وصف, فاصلة"),
    "de_DE": ("cp1252", "C:\\Programme\\Tärvel €", "7.6 Größe", ["Protokoll ä.log", "Übung.log"],
              "Rechner", "Müller", "Virus.Ä",
              [("C:\\Daten\\Bericht ä.doc", False, "Bericht ä.doc", "C:\\Daten\\"),
               ("C:\\Post\\Kiste.zip>Dokument\\ß.doc", True, "ß.doc", "C:\\Post\\Kiste.zip>Dokument\\"),
               ("C:\\Verkauf, Köln\\€", False, "€", "C:\\Verkauf, Köln\\")],
              "Beschreibung, Komma"),
    "en_US": ("cp1252", "C:\\Program Files\\Tarvel", "7.6", ["activity.log", "backup.log"],
              "PC01", "alice", "Test.Virus",
              [("C:\\Data\\report.doc", False, "report.doc", "C:\\Data\\"),
               ("C:\\Mail\\box.zip>docs\\a.doc", True, "a.doc", "C:\\Mail\\box.zip>docs\\"),
               ("C:\\Sales, Europe\\x.doc", False, "x.doc", "C:\\Sales, Europe\\")],
              "text, with comma"),
}


# Wine ignores the calendar of the system's settings; Windows and the Linux build
# count the date in it: th-TH's is 7, Thai Buddhist (2001 is 2544), ar-SA's 23, Um
# Al-Qura. The one difference the Linux build's file has from Wine's is the date
# column: the Gregorian date Wine writes, counted in the locale's calendar (as ICU
# counts it) and written with the same picture, digit runs in their places.
CALENDARS = {"th_TH": "buddhist", "ar_SA": "islamic-umalqura"}


# The Linux builds tried on each prefix: $VH_LINUX_BUILDS (folders, space-separated),
# else the one build every suite tries. A prefix made under a locale is the slow
# part: each is made once and serves them all.
LINUX_EXES = ([os.path.join(ROOT, build, "virushist") for build in os.environ.get("VH_LINUX_BUILDS", "").split()]
              or COMMANDS["linux"])



def setUpModule():
    require_windows_builds(WINDOWS_EXE)

def in_calendar(data, calendar):
    """A history file with each row's date counted in the calendar. The logs' events
    are of 4 January and 25 December 2001: in Wine's date the year is the run
    "2001", or else the last run of digits (th-TH's "d/M/yyyy", ar-SA's "dd/MM/yy"),
    and 4/1 or 25/12 tells the day from the month; each run is replaced by the
    calendar's number, as wide as the picture asks."""
    import re
    import icu
    counted = icu.Calendar.createInstance(icu.TimeZone.getGMT(), icu.Locale("en_US@calendar=" + calendar))
    gregorian = icu.GregorianCalendar(icu.TimeZone.getGMT())
    fields = icu.UCalendarDateFields
    rows = []
    for row in data.split(b"\r\n")[:-1]:
        date, rest = row.split(b",", 1)
        parts = re.split(rb"(\d+)", date)
        runs = [i for i, part in enumerate(parts) if part.isdigit()]
        year_at = next((i for i in runs if parts[i] == b"2001"), runs[-1])
        first, second = [i for i in runs if i != year_at]
        day_at, month_at = ((first, second) if (int(parts[first]), int(parts[second])) in ((4, 1), (25, 12))
                            else (second, first))
        gregorian.clear()
        gregorian.set(2001, int(parts[month_at]) - 1, int(parts[day_at]))
        counted.setTime(gregorian.getTime())
        for at, value in ((year_at, counted.get(fields.YEAR)), (day_at, counted.get(fields.DATE)),
                          (month_at, counted.get(fields.MONTH) + 1)):
            width = len(parts[at])
            parts[at] = str(value % 100 if at == year_at and width == 2 else value).zfill(
                2 if width == 2 else 1).encode()
        rows.append(b"".join(parts) + b"," + rest + b"\r\n")
    return b"".join(rows)


def log_line(time, computer, user, virus, path, container, description):
    """One virus event: a quoted path when it holds a comma, a quoted description."""
    if "," in path:
        path = '"%s"' % path
    flag, level = ("1", "2") if container else ("0", "0")
    return (f"{time},5,0,1,{computer},{user},{virus},{path},5,1,5,256,0,\"{description}\","
            f",,,,,,,,,{flag},{level},,20011225.001,,,,,,\r\n")


class Locales(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="vh-locale-")
        self.prefix = None

    def tearDown(self):
        if self.prefix:
            subprocess.run(["wineserver", "-k"], env=self.env_for(None), check=False)
        shutil.rmtree(self.work, ignore_errors=True)

    def env_for(self, locale):
        """The environment of a run: the prefix, and the locale or none at all."""
        if locale == "C":
            return dict(locale_env(None, WINEPREFIX=self.prefix), LC_ALL="C")
        return locale_env(locale, WINEPREFIX=self.prefix)

    def install(self, locale):
        """A prefix made under the locale, with the product installed in its language."""
        codec, home, version, logs, computer, user, virus, paths, description = LOCALES[locale]
        self.prefix = os.path.join(self.work, "prefix")
        env = self.env_for(locale)
        subprocess.run(["wineboot", "-i"], env=env, check=True, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        # The prefix is whole once its wineserver is done; under load a first
        # "wine reg add" can still fail, and is tried once more.
        subprocess.run(["wineserver", "-w"], env=env, check=True)
        add = ["wine", "reg", "add", KEY, "/v", "Home Directory", "/d", home, "/f", registry_view(KEY, None)]
        if subprocess.run(add, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode != 0:
            subprocess.run(["wineserver", "-w"], env=env, check=True)
            subprocess.run(add, env=env, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        subprocess.run(["wineserver", "-w"], env=env, check=True)
        drive_c = os.path.join(self.prefix, "drive_c")
        self.home_logs = os.path.join(drive_c, *home[3:].split("\\"), "logs")
        self.version_folder = os.path.join(self.prefix, PRODUCT, version)
        os.makedirs(self.home_logs)
        os.makedirs(os.path.join(self.version_folder, "logs"))
        os.makedirs(os.path.join(self.prefix, PRODUCT, "7.0", "logs"))
        # Two logs: one with every path, dated 4 January 2001 (one-digit day and
        # month), one with the first path again on 25 December 2001.
        first = "".join(log_line("1F0004090000", computer, user, virus, path, container,
                                 description) for path, container, _, _ in paths)
        second = log_line("1F0B19090000", computer, user, virus, paths[0][0], paths[0][1],
                          description)
        for folder in (os.path.join(self.version_folder, "logs"), self.home_logs):
            for name, text in zip(logs, (first, second)):
                with open(os.path.join(folder, name), "wb") as f:
                    f.write(text.encode(codec))

    def run_export(self, platform, locale, *args):
        """A run of the Windows build ("windows") or of a Linux executable."""
        cwd = fresh_folder(os.path.join(self.work, "run-%s-%s" % (platform.replace("/", "_"), locale or "none")))
        command = COMMANDS["windows"] if platform == "windows" else [platform]
        done = subprocess.run(command + list(args), cwd=cwd, env=self.env_for(locale),
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        if platform != "windows":
            check_no_sanitizer_report(self, done.stderr)
        return done.returncode, read_history(cwd)

    def check_locale(self, locale):
        codec, _, _, logs, computer, user, virus, paths, description = LOCALES[locale]
        self.install(locale)
        for fallback in (False, True):
            if fallback:
                # No version folder above 7.499: the home directory's logs are read.
                shutil.rmtree(self.version_folder)
            with self.subTest(fallback=fallback):
                status, windows = self.run_export("windows", locale)
                self.assertEqual(status, 0)
                # The Windows build's columns are the right ones.
                # (The logs come in the search's order, which the names decide.)
                rows = parse_rows(self, windows, codec)
                expected = [(name, location, location) for _, _, name, location in paths]
                expected.append(expected[0])
                self.assertEqual(sorted((row[1], row[7], row[9]) for row in rows), sorted(expected))
                for row in rows:
                    self.assertEqual((row[2], row[5], row[6]), (virus, computer, user))
                self.assertEqual(len(set(row[0] for row in rows)), 2)
                # The Linux build writes the same bytes, whatever its own locale, but
                # for the year of a calendar Wine ignores.
                expected = windows
                if locale in CALENDARS:
                    expected = in_calendar(windows, CALENDARS[locale])
                    self.assertNotEqual(expected, windows)
                for exe in LINUX_EXES:
                    for linux_locale in (locale, None):
                        status, linux = self.run_export(exe, linux_locale)
                        self.assertEqual(status, 0, (exe, linux_locale))
                        self.assertEqual(linux, expected, (exe, linux_locale))
        # A pattern in the locale's script, typed in a UTF-8 shell, finds the first
        # log alone, on both builds.
        pattern = logs[0][:2] + "*"
        status, windows = self.run_export("windows", locale, pattern)
        self.assertEqual(status, 0)
        self.assertEqual(len(parse_rows(self, windows, codec)), len(paths))
        if locale in CALENDARS:
            windows = in_calendar(windows, CALENDARS[locale])
        for exe in LINUX_EXES:
            for linux_locale in (locale, "C", None):
                self.assertEqual(self.run_export(exe, linux_locale, pattern), (0, windows), (exe, linux_locale))


    def test_name_without_a_form_in_the_code_page(self):
        # On a code page 1252 system the search gives "??.log" for 日本.log, which
        # cannot be opened by that name: the run says so (exit 4), and every row of
        # the other logs is there.
        self.install("en_US")
        logs = os.path.join(self.version_folder, "logs")
        shutil.copy(os.path.join(logs, "activity.log"), os.path.join(logs, "日本.log"))
        results = {}
        for platform in ["windows"] + LINUX_EXES:
            status, data = self.run_export(platform, "en_US")
            self.assertEqual(status, 4, platform)
            results[platform] = data
            self.assertEqual(len(parse_rows(self, data)), len(LOCALES["en_US"][7]) + 1)
        for exe in LINUX_EXES:
            self.assertEqual(results[exe], results["windows"], exe)


def add_locale_tests():
    for locale in LOCALES:
        setattr(Locales, "test_" + locale, lambda self, locale=locale: self.check_locale(locale))


add_locale_tests()

if __name__ == "__main__":
    result = unittest.main(exit=False, verbosity=2).result
    failed = len(result.failures) + len(result.errors)
    print(f"{result.testsRun - failed} passed, {failed} failed")
    sys.exit(1 if failed else 0)
