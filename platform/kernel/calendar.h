// Calendar arithmetic shared by the kernel's time calls and MFC's time classes. Private to the
// layer. Dates are proleptic Gregorian, as on the original platform.
#pragma once

#include <cstdint>
#include <ctime>

namespace platform::calendar {

constexpr int64_t kSecondsPerDay = 86400;
// FILETIME counts 100 ns units from 1601-01-01 UTC.
constexpr int64_t kFileTimeUnitsPerSecond = 10'000'000;
constexpr int64_t kUnixEpochAsFileTime = 116444736000000000LL;

constexpr int64_t FloorDiv(int64_t a, int64_t b) {
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)) ? 1 : 0);
}

constexpr bool IsLeapYear(int64_t year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

constexpr int DaysInMonth(int64_t year, int month) {
    constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Days from 1970-01-01 to the given date (month 1-12, day 1-31).
constexpr int64_t DaysFromCivil(int64_t year, int month, int day) {
    year -= month <= 2 ? 1 : 0;
    const int64_t era = FloorDiv(year, 400);
    const int64_t yearOfEra = year - era * 400;
    const int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

struct CivilDate {
    int64_t year;
    int month;
    int day;
};

constexpr CivilDate CivilFromDays(int64_t days) {
    days += 719468;
    const int64_t era = FloorDiv(days, 146097);
    const int64_t dayOfEra = days - era * 146097;
    const int64_t yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int64_t mp = (5 * dayOfYear + 2) / 153;
    const int day = static_cast<int>(dayOfYear - (153 * mp + 2) / 5 + 1);
    const int month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    return CivilDate{yearOfEra + era * 400 + (month <= 2 ? 1 : 0), month, day};
}

// 0 = Sunday.
constexpr int WeekdayFromDays(int64_t days) {
    return static_cast<int>((days + 4) - FloorDiv(days + 4, 7) * 7);  // 1970-01-01 was a Thursday
}

constexpr bool IsValidDate(int64_t year, int month, int day) {
    return month >= 1 && month <= 12 && day >= 1 && day <= DaysInMonth(year, month);
}

constexpr bool IsValidTime(int hour, int minute, int second) {
    return hour >= 0 && hour < 24 && minute >= 0 && minute < 60 && second >= 0 && second < 60;
}

#ifndef _WIN32  // the kernel's own; the Windows build of the MFC subset asks the system
// Offset of local time from UTC, in seconds, in force at the given moment (process TZ).
inline long LocalOffsetAt(time_t utc) {
    struct tm local {};
    return localtime_r(&utc, &local) ? local.tm_gmtoff : 0;
}
#endif

}  // namespace platform::calendar
