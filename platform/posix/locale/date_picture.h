// A date formatted by a Windows date picture ("d.M.yyyy", "yyyy/MM/dd"), as
// GetDateFormat formats it: the pure piece behind the short date of the POSIX layer.
#pragma once

#include <string>
#include <string_view>

// Formats the date by the picture: "d" the day and "dd" the day in two digits, "M"
// and "MM" the month alike, "y" and "yy" the last two digits of the year, three or
// more "y" the whole year; text in single quotes stands as it is, "''" in it being
// one quote; any other character stands as it is; "g" and "gg" the era's name,
// where the calendar has eras. Returns false, with strText empty, for a picture that
// asks for the locale's day or month names ("ddd", "MMM"), or for an era the
// calendar does not name: those are not kept with the system's settings.
bool FormatDatePicture(std::u16string_view strPicture, int nYear, int nMonth, int nDay,
                       std::u16string& strText, std::u16string_view strEra = {});
