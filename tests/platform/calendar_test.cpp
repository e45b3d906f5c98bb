// The calendar against the original platform: a time_t's local fields and written form, as
// CTime reads them, and OLE dates, whose whole part counts days from 1899-12-30 and whose
// fraction is the time of day, forward from the day even before 1899-12-30. CTime and
// COleDateTime take their fields from the system; built for Windows, where MFC is not at hand,
// the rows ask the system as they do: mktime, localtime and strftime for CTime,
// VariantTimeToSystemTime and SystemTimeToVariantTime for COleDateTime.
// ctest-labels: win32
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <ostream>
#include <string>

#include "scoped_time_zone.h"
#include "windows.h"
#ifdef _WIN32
#include <oleauto.h>
#else
#include "afxdisp.h"
#include "afxtime.h"
#endif

namespace {

using portrix_test::ScopedTimeZone;

// A calendar moment's fields, compared and printed whole.
struct Fields {
    int y, mo, d, h, mi, s;
    int dayOfWeek;  // 1 = Sunday
    bool operator==(const Fields& o) const {
        return y == o.y && mo == o.mo && d == o.d && h == o.h && mi == o.mi && s == o.s &&
               dayOfWeek == o.dayOfWeek;
    }
    friend std::ostream& operator<<(std::ostream& out, const Fields& f) {
        return out << f.y << '-' << f.mo << '-' << f.d << ' ' << f.h << ':' << f.mi << ':' << f.s
                   << " day " << f.dayOfWeek;
    }
};

struct LocalTime {
    Fields fields;
    std::string written;
};

// The moment of local fields, as CTime's constructor finds it.
time_t MomentOf(const Fields& f) {
#ifdef _WIN32
    std::tm fields{};
    fields.tm_year = f.y - 1900;
    fields.tm_mon = f.mo - 1;
    fields.tm_mday = f.d;
    fields.tm_hour = f.h;
    fields.tm_min = f.mi;
    fields.tm_sec = f.s;
    fields.tm_isdst = -1;
    return std::mktime(&fields);
#else
    return CTime(f.y, f.mo, f.d, f.h, f.mi, f.s).GetTime();
#endif
}

// A moment's local fields and its form written with format, as CTime gives them.
LocalTime LocalTimeOf(time_t moment, const char* format) {
#ifdef _WIN32
    const std::tm fields = *std::localtime(&moment);
    char written[64] = {};
    std::strftime(written, sizeof written, format, &fields);
    return {{fields.tm_year + 1900, fields.tm_mon + 1, fields.tm_mday, fields.tm_hour,
             fields.tm_min, fields.tm_sec, fields.tm_wday + 1},
            written};
#else
    const CTime t(moment);
    return {{t.GetYear(), t.GetMonth(), t.GetDay(), t.GetHour(), t.GetMinute(), t.GetSecond(),
             t.GetDayOfWeek()},
            std::string(t.Format(format))};
#endif
}

TEST(CTimeTest, LocalFieldsAndWrittenForm) {
    ScopedTimeZone zone("UTC-2");  // two hours east of UTC, no summer time
    struct Case {
        Fields local;
        time_t utc;
        const char* formatted;
    };
    const Case cases[] = {
        /*1*/ {{2004, 3, 7, 9, 5, 0, 1}, 1078643100, "2004/03/07 09:05:00"},
        /*2*/ {{1970, 1, 1, 2, 0, 0, 5}, 0, "1970/01/01 02:00:00"},
        /*3*/ {{2038, 1, 19, 5, 14, 8, 3}, 2147483648LL, "2038/01/19 05:14:08"},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE("row " + std::to_string(++n));
        EXPECT_EQ(c.utc, MomentOf(c.local));
        const LocalTime t = LocalTimeOf(c.utc, "%Y/%m/%d %H:%M:%S");
        EXPECT_EQ(c.local, t.fields);
        EXPECT_EQ(c.formatted, t.written);
    }
}

// The fields of a DATE, or false when it has none.
bool FieldsOf(DATE date, Fields* f) {
#ifdef _WIN32
    SYSTEMTIME st;
    if (!VariantTimeToSystemTime(date, &st)) return false;
    *f = {st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond, st.wDayOfWeek + 1};
#else
    const COleDateTime t(date);
    if (t.GetStatus() != COleDateTime::valid) return false;
    *f = {t.GetYear(),   t.GetMonth(),  t.GetDay(),      t.GetHour(),
          t.GetMinute(), t.GetSecond(), t.GetDayOfWeek()};
#endif
    return true;
}

// The DATE of the fields.
DATE DateOf(const Fields& f) {
#ifdef _WIN32
    SYSTEMTIME st{};
    st.wYear = static_cast<WORD>(f.y);
    st.wMonth = static_cast<WORD>(f.mo);
    st.wDay = static_cast<WORD>(f.d);
    st.wHour = static_cast<WORD>(f.h);
    st.wMinute = static_cast<WORD>(f.mi);
    st.wSecond = static_cast<WORD>(f.s);
    DATE date = -1e9;
    SystemTimeToVariantTime(&st, &date);
    return date;
#else
    return COleDateTime(f.y, f.mo, f.d, f.h, f.mi, f.s).m_dt;
#endif
}

TEST(OleDateTime, DateValuesAndFields) {
    struct Case {
        DATE date;
        Fields fields;
        int dayOfYear;
    };
    const Case cases[] = {
        /*1*/ {0.0, {1899, 12, 30, 0, 0, 0, 7}, 364},
        /*2*/ {1.0, {1899, 12, 31, 0, 0, 0, 1}, 365},
        /*3*/ {2.5, {1900, 1, 1, 12, 0, 0, 2}, 1},
        /*4*/ {-1.25, {1899, 12, 29, 6, 0, 0, 6}, 363},  // whole part back, fraction forward
        /*5*/ {-2.75, {1899, 12, 28, 18, 0, 0, 5}, 362},
        /*6*/ {38053.0 + (9 * 3600 + 5 * 60) / 86400.0, {2004, 3, 7, 9, 5, 0, 1}, 67},
        /*7*/ {38046.0, {2004, 2, 29, 0, 0, 0, 1}, 60},
        /*8*/ {-657434.0, {100, 1, 1, 0, 0, 0, 6}, 1},
        /*9*/ {2958465.0 + 86399 / 86400.0, {9999, 12, 31, 23, 59, 59, 6}, 365},
        /*10*/ {0.5 + 0.4 / 86400.0, {1899, 12, 30, 12, 0, 0, 7}, 364},  // rounds to the second
        /*11*/ {0.5 - 0.4 / 86400.0, {1899, 12, 30, 12, 0, 0, 7}, 364},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE("row " + std::to_string(++n));
        Fields f{};
        ASSERT_TRUE(FieldsOf(c.date, &f));
        EXPECT_EQ(c.fields, f);
#ifndef _WIN32  // the day of the year is COleDateTime's own count
        EXPECT_EQ(c.dayOfYear, COleDateTime(c.date).GetDayOfYear());
#endif
        // And back from the fields to (nearly) the same DATE.
        EXPECT_NEAR(c.date, DateOf(c.fields), 1.0 / 86400);
    }
}

}  // namespace
