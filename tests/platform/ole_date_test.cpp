// OLE dates against the original platform: the whole part counts days from 1899-12-30 and the
// fraction the time of day, forward from the day even before 1899-12-30. COleDateTime's fields
// are the system's reading of a DATE; built for Windows, where MFC is not at hand, the rows
// read it with VariantTimeToSystemTime and build it back with SystemTimeToVariantTime.
// ctest-labels: win32
#include <gtest/gtest.h>

#include <string>

#include "windows.h"
#ifdef _WIN32
#include <oleauto.h>
#else
#include "afxdisp.h"
#endif

namespace {

struct Fields {
    int y, mo, d, h, mi, s;
    int dayOfWeek;  // 1 = Sunday
};

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
        int y, mo, d, h, mi, s;
        int dayOfWeek, dayOfYear;
    };
    const Case cases[] = {
        /*1*/ {0.0, 1899, 12, 30, 0, 0, 0, 7, 364},
        /*2*/ {1.0, 1899, 12, 31, 0, 0, 0, 1, 365},
        /*3*/ {2.5, 1900, 1, 1, 12, 0, 0, 2, 1},
        /*4*/ {-1.25, 1899, 12, 29, 6, 0, 0, 6, 363},  // whole part back, fraction forward
        /*5*/ {-2.75, 1899, 12, 28, 18, 0, 0, 5, 362},
        /*6*/ {38053.0 + (9 * 3600 + 5 * 60) / 86400.0, 2004, 3, 7, 9, 5, 0, 1, 67},
        /*7*/ {38046.0, 2004, 2, 29, 0, 0, 0, 1, 60},
        /*8*/ {-657434.0, 100, 1, 1, 0, 0, 0, 6, 1},
        /*9*/ {2958465.0 + 86399 / 86400.0, 9999, 12, 31, 23, 59, 59, 6, 365},
        /*10*/ {0.5 + 0.4 / 86400.0, 1899, 12, 30, 12, 0, 0, 7, 364},  // rounds to the second
        /*11*/ {0.5 - 0.4 / 86400.0, 1899, 12, 30, 12, 0, 0, 7, 364},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE("row " + std::to_string(++n));
        Fields f{};
        ASSERT_TRUE(FieldsOf(c.date, &f));
        EXPECT_EQ(c.y, f.y);
        EXPECT_EQ(c.mo, f.mo);
        EXPECT_EQ(c.d, f.d);
        EXPECT_EQ(c.h, f.h);
        EXPECT_EQ(c.mi, f.mi);
        EXPECT_EQ(c.s, f.s);
        EXPECT_EQ(c.dayOfWeek, f.dayOfWeek);
#ifndef _WIN32  // the day of the year is COleDateTime's own count
        EXPECT_EQ(c.dayOfYear, COleDateTime(c.date).GetDayOfYear());
#endif
        // And back from the fields to (nearly) the same DATE.
        EXPECT_NEAR(c.date, DateOf({c.y, c.mo, c.d, c.h, c.mi, c.s, 0}), 1.0 / 86400);
    }
}

}  // namespace
