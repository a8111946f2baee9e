#!/usr/bin/python3
"""The dates of tests/data/calendars.tsv in each calendar Windows writes short dates
in, as ICU counts them (Debian's python3-icu), within the range Windows supports:
  /usr/bin/python3 tools/calendar_table.py > tests/data/calendars.tsv
Lines: "calendar type<TAB>yyyy-mm-dd<TAB>year<TAB>month<TAB>day<TAB>era", the last
four empty for a date outside Windows' range. Dates: from 1970 to 2100 every 97th
day, every first and last day of each calendar's years, of its months in every
fifth year, and its leap days (Gregorian 29 February, a 30th day of the twelfth
month)."""
import datetime

import icu

F = icu.UCalendarDateFields
GMT = icu.TimeZone.getGMT()
JAPANESE_ERAS = {232: "明治", 233: "大正", 234: "昭和", 235: "平成", 236: "令和"}
# Windows' type: (ICU calendar, first and last date Windows supports, or None).
CALENDARS = {
    3: ("japanese", datetime.date(1868, 9, 8), None),
    4: ("roc", datetime.date(1912, 1, 1), None),
    5: (None, None, None),  # Korean Tangun: the Gregorian year + 2333, by definition
    6: ("islamic-tbla", None, None),  # tabular Hijri, astronomical epoch (Kuwaiti)
    7: ("buddhist", None, None),
    8: ("hebrew", datetime.date(1583, 1, 1), datetime.date(2239, 9, 29)),
    22: ("persian", None, None),
    23: ("islamic-umalqura", datetime.date(1900, 4, 30), datetime.date(2077, 11, 16)),
}
FIRST, LAST = datetime.date(1970, 1, 1), datetime.date(2100, 12, 31)


def converter(name):
    calendar = icu.Calendar.createInstance(GMT, icu.Locale("en_US@calendar=" + name))
    gregorian = icu.GregorianCalendar(GMT)

    def convert(day):
        gregorian.clear()
        gregorian.set(day.year, day.month - 1, day.day)
        calendar.setTime(gregorian.getTime())
        year, month = calendar.get(F.YEAR), calendar.get(F.MONTH)
        era = JAPANESE_ERAS.get(calendar.get(F.ERA), "") if name == "japanese" else ""
        if name == "hebrew":
            # ICU numbers Adar I 5 (absent in a common year) and Adar 6; Windows counts
            # the months of the year as they come from Tishri.
            leap = (7 * year + 1) % 19 < 7
            month = month + 1 if leap or month < 5 else month
        else:
            month += 1
        return year, month, calendar.get(F.DATE), era
    return convert


def main():
    days = [FIRST + datetime.timedelta(n) for n in range((LAST - FIRST).days + 1)]
    for kind, (name, first, last) in CALENDARS.items():
        convert = converter(name) if name else (lambda d: (d.year + 2333, d.month, d.day, ""))
        values = [convert(day) for day in days]
        chosen = set(range(0, len(days), 97))
        for i, (year, month, day, _) in enumerate(values):
            following = values[i + 1] if i + 1 < len(values) else None
            if following and following[0] != year:
                chosen.update((i, i + 1))
            if following and following[1] != month and year % 5 == 0:
                chosen.update((i, i + 1))
            if (month, day) == (12, 30) or (days[i].month, days[i].day) == (2, 29):
                chosen.add(i)
        for i in sorted(chosen):
            day = days[i]
            inside = (first is None or day >= first) and (last is None or day <= last)
            year, month, date, era = values[i] if inside else ("", "", "", "")
            print(f"{kind}\t{day.isoformat()}\t{year}\t{month}\t{date}\t{era}")


if __name__ == "__main__":
    main()
