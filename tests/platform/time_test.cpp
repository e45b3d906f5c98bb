// The layer's clock and the time family: FILETIME and SYSTEMTIME conversions, local time,
// CTime, COleDateTime and COleDateTimeSpan. Rows are numbered; gtest prints expected against
// actual. Tests that need a known time zone set TZ for their own duration.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <random>
#include <string>

#include "afxdisp.h"
#include "afxtime.h"
#include "file_times.h"
#include "kernel_handles.h"
#include "scoped_time_zone.h"
#include "windows.h"

using portrix_test::ScopedClockShift;
using namespace std::chrono_literals;

namespace {

using namespace portrix_test;

std::string Row(int n) {
    return "row " + std::to_string(n);
}

// ---- The clock -------------------------------------------------------------------------------

struct Readings {
    LONGLONG systemFileTime;  // seconds
    LONGLONG systemTime;
    LONGLONG localTime;
    LONGLONG ctime;
    double oleDays;
};

Readings ReadAllClocks() {
    Readings r;
    FILETIME f;
    GetSystemTimeAsFileTime(&f);
    r.systemFileTime = ToValue(f) / kUnitsPerSecond;
    SYSTEMTIME s;
    GetSystemTime(&s);
    r.systemTime = SystemTimeValue(s) / kUnitsPerSecond;
    GetLocalTime(&s);
    r.localTime = SystemTimeValue(s) / kUnitsPerSecond;
    r.ctime = CTime::GetCurrentTime().GetTime();
    const COleDateTime now = COleDateTime::GetCurrentTime();
    r.oleDays = (now - COleDateTime(2000, 1, 1, 0, 0, 0)).GetTotalDays();
    return r;
}

TEST(Clock, ShiftMovesEveryReportedTime) {
    const std::chrono::seconds shifts[] = {/*1*/ 11 * 24h, /*2*/ -11 * 24h, /*3*/ 10 * 24h + 23h,
                                           /*4*/ 1s, /*5*/ 3650 * 24h};
    const std::chrono::seconds before = platform::ClockOffset();
    int n = 0;
    for (auto shift : shifts) {
        SCOPED_TRACE(Row(++n));
        const Readings base = ReadAllClocks();
        Readings moved;
        {
            ScopedClockShift scoped(shift);
            EXPECT_EQ(before + shift, platform::ClockOffset());
            moved = ReadAllClocks();
        }
        EXPECT_EQ(before, platform::ClockOffset());
        // Each reading moved by the shift, give or take the seconds the test itself took.
        const LONGLONG s = shift.count();
        EXPECT_NEAR(s, moved.systemFileTime - base.systemFileTime, 5);
        EXPECT_NEAR(s, moved.systemTime - base.systemTime, 5);
        EXPECT_NEAR(s, moved.ctime - base.ctime, 5);
        // Local readings may also cross a summer-time change when moved by days.
        EXPECT_NEAR(s, moved.localTime - base.localTime, 5 + 3600);
        EXPECT_NEAR(s / 86400.0, moved.oleDays - base.oleDays, (5 + 3600) / 86400.0);
    }
}

TEST(Clock, ReadingsAgreeWithEachOther) {
    ScopedTimeZone zone("UTC-2");  // two hours east of UTC, no summer time
    const Readings r = ReadAllClocks();
    EXPECT_NEAR(r.systemFileTime, r.systemTime, 2);
    EXPECT_NEAR(r.systemFileTime, r.ctime + kUnixEpoch / kUnitsPerSecond, 2);
    EXPECT_NEAR(r.systemFileTime + 7200, r.localTime, 2);
    SYSTEMTIME local;
    GetLocalTime(&local);
    const COleDateTime ole = COleDateTime::GetCurrentTime();
    EXPECT_NEAR(SystemTimeValue(local) / kUnitsPerSecond,
                SystemTimeValue(MakeSystemTime(ole.GetYear(), ole.GetMonth(), ole.GetDay(),
                                               ole.GetHour(), ole.GetMinute(), ole.GetSecond())) /
                    kUnitsPerSecond,
                2);
}

// ---- FILETIME and SYSTEMTIME -----------------------------------------------------------------

TEST(Clock, AbsoluteTimerDueTimesFollowIt) {
    // With the layer's clock an hour ahead, the real "now plus a minute" lies in its past.
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    LARGE_INTEGER due;
    due.QuadPart =
        static_cast<LONGLONG>((ULONGLONG{now.dwHighDateTime} << 32) | now.dwLowDateTime) +
        kUnitsPerSecond * 60;
    ScopedClockShift shift(std::chrono::hours(1));
    portrix_test::OwnedHandle timer(CreateWaitableTimerA(nullptr, TRUE, nullptr));
    ASSERT_TRUE(SetWaitableTimer(timer.get(), &due, 0, nullptr, nullptr, FALSE));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(timer.get(), 0));
}

TEST(FileTime, LocalConversionUsesTheBiasInForceNow) {
    struct Case {
        const char* zone;
        LONGLONG probe;         // a UTC time to convert
        LONGLONG expectedBias;  // seconds, as the original platform applies it
    };
    // The bias the original applies is the one in force now, whatever the date converted.
    // The layer's clock is pinned to a winter and then a summer date to make that visible.
    const LONGLONG january = SystemTimeValue(MakeSystemTime(2030, 1, 15, 12, 0, 0));
    const LONGLONG july = SystemTimeValue(MakeSystemTime(2030, 7, 15, 12, 0, 0));
    const char* berlin = "CET-1CEST,M3.5.0,M10.5.0/3";
    struct Pinned {
        LONGLONG now;
        Case c;
    };
    const Pinned cases[] = {
        /*1*/ {january, {"UTC-2", july, 7200}},
        /*2*/ {january, {"UTC0", july, 0}},
        /*3*/ {january, {"EST5", january, -5 * 3600}},
        /*4*/ {january, {berlin, july, 3600}},  // winter now: summer dates get +1 h too
        /*5*/ {july, {berlin, january, 7200}},  // summer now: winter dates get +2 h
        /*6*/ {july, {berlin, july, 7200}},
    };
    int n = 0;
    for (const Pinned& p : cases) {
        SCOPED_TRACE(Row(++n));
        ScopedTimeZone zone(p.c.zone);
        FILETIME real;
        GetSystemTimeAsFileTime(&real);
        ScopedClockShift shift(std::chrono::seconds((p.now - ToValue(real)) / kUnitsPerSecond));
        const FILETIME utc = FromValue(p.c.probe);
        FILETIME local, back;
        ASSERT_TRUE(FileTimeToLocalFileTime(&utc, &local));
        EXPECT_EQ(p.c.expectedBias, (ToValue(local) - p.c.probe) / kUnitsPerSecond);
        ASSERT_TRUE(LocalFileTimeToFileTime(&local, &back));
        EXPECT_EQ(p.c.probe, ToValue(back));
    }
}

// ---- CTime -----------------------------------------------------------------------------------

TEST(CTimeTest, FromFileAndSystemTimesAndSpans) {
    ScopedTimeZone zone("UTC-2");
    // Local fields and their written form: calendar_test.cpp.
    for (const time_t utc : {time_t{1078643100}, time_t{0}, time_t{2147483648LL}}) {
        SCOPED_TRACE(utc);
        const CTime t(utc);
        // The same moment from a UTC FILETIME, as file systems give it.
        const FILETIME f = FromValue(kUnixEpoch + utc * kUnitsPerSecond + 9'999'999);
        EXPECT_EQ(utc, CTime(f).GetTime());
        SYSTEMTIME s;
        ASSERT_TRUE(t.GetAsSystemTime(s));
        EXPECT_EQ(utc, CTime(s).GetTime());
    }
    // Spans
    const CTime a(2004, 3, 7, 9, 5, 0), b(2004, 2, 25, 8, 0, 30);
    const CTimeSpan span = a - b;
    EXPECT_EQ(11 * 86400 + 3600 + 4 * 60 + 30, span.GetTotalSeconds());
    EXPECT_EQ(11, span.GetDays());
    EXPECT_EQ(1, span.GetHours());
    EXPECT_EQ(4, span.GetMinutes());
    EXPECT_EQ(30, span.GetSeconds());
    EXPECT_EQ(-11, (b - a).GetDays());
    EXPECT_EQ(a, b + span);
    EXPECT_TRUE(b < a);
    EXPECT_EQ(CTimeSpan(11, 1, 4, 30), span);
}

// ---- COleDateTime ----------------------------------------------------------------------------

TEST(OleDateTime, InvalidValues) {
    struct Case {
        int y, mo, d, h, mi, s;
    };
    const Case cases[] = {
        /*1*/ {99, 12, 31, 0, 0, 0},  /*2*/ {10000, 1, 1, 0, 0, 0},
        /*3*/ {2003, 2, 29, 0, 0, 0},
        /*4*/ {2004, 4, 31, 0, 0, 0}, /*5*/ {2004, 1, 1, 24, 0, 0},
        /*6*/ {2004, 1, 1, 0, -1, 0},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(Row(++n));
        COleDateTime t(c.y, c.mo, c.d, c.h, c.mi, c.s);
        EXPECT_EQ(COleDateTime::invalid, t.GetStatus());
        EXPECT_EQ(-1, t.GetYear());
        EXPECT_STREQ("Invalid DateTime", t.Format("%Y"));
        const COleDateTimeSpan span = t - COleDateTime(2004, 1, 1, 0, 0, 0);
        EXPECT_EQ(COleDateTimeSpan::invalid, span.GetStatus());
    }
    EXPECT_EQ(COleDateTime::invalid, COleDateTime(DATE(NAN)).GetStatus());
    EXPECT_EQ(COleDateTime::invalid, COleDateTime(DATE(3e6)).GetStatus());
    EXPECT_EQ(COleDateTime::invalid,
              (COleDateTime(9999, 12, 31, 23, 59, 59) + COleDateTimeSpan(0, 0, 0, 1)).GetStatus());
    COleDateTime null;
    null.SetStatus(COleDateTime::null);
    EXPECT_STREQ("", null.Format("%Y"));
}

TEST(OleDateTime, WrittenFormParsesBackToTheSameTime) {
    const char* kWritten = "%Y/%m/%d %H:%M:%S";
    std::vector<COleDateTime> times = {
        COleDateTime(2004, 3, 7, 9, 5, 0),      COleDateTime(100, 1, 1, 0, 0, 0),
        COleDateTime(9999, 12, 31, 23, 59, 59), COleDateTime(1899, 12, 29, 6, 0, 0),
        COleDateTime(1899, 12, 30, 0, 0, 1),    COleDateTime(2000, 2, 29, 23, 59, 59),
        COleDateTime::GetCurrentTime(),
    };
    std::mt19937 random(20040307);
    std::uniform_int_distribution<int> year(100, 9999), month(1, 12), day(1, 28), hour(0, 23),
        minute(0, 59);
    for (int i = 0; i < 2000; ++i)
        times.emplace_back(year(random), month(random), day(random), hour(random), minute(random),
                           minute(random));
    for (const COleDateTime& t : times) {
        const CString text = t.Format(kWritten);
        COleDateTime back;
        ASSERT_TRUE(back.ParseDateTime(text)) << text;
        ASSERT_EQ(t, back) << text << " read back as " << back.Format(kWritten);
        ASSERT_EQ(0.0, (back - t).GetTotalDays()) << text;
        ASSERT_STREQ(text, back.Format(kWritten));
    }
    EXPECT_EQ(19, COleDateTime(2004, 3, 7, 9, 5, 0).Format(kWritten).GetLength());
}

TEST(OleDateTime, ParseAccepts) {
    struct Case {
        const char* text;
        DWORD flags;
        int y, mo, d, h, mi, s;
    };
    const Case cases[] = {
        /*1*/ {"2004/03/07 09:05:00", 0, 2004, 3, 7, 9, 5, 0},
        /*2*/ {"2004-03-07 09:05:00", 0, 2004, 3, 7, 9, 5, 0},
        /*3*/ {"2004.3.7 9:05", 0, 2004, 3, 7, 9, 5, 0},
        /*4*/ {"  2004/03/07  ", 0, 2004, 3, 7, 0, 0, 0},
        /*5*/ {"2004-03-07T09:05:00", 0, 2004, 3, 7, 9, 5, 0},
        /*6*/ {"09:05:30", 0, 1899, 12, 30, 9, 5, 30},
        /*7*/ {"2004/03/07 9:05 pm", 0, 2004, 3, 7, 21, 5, 0},
        /*8*/ {"2004/03/07 12:00:00 AM", 0, 2004, 3, 7, 0, 0, 0},
        /*9*/ {"2004/02/29 23:59:59", 0, 2004, 2, 29, 23, 59, 59},
        /*10*/ {"2004/03/07 09:05:00", VAR_DATEVALUEONLY, 2004, 3, 7, 0, 0, 0},
        /*11*/ {"2004/03/07 09:05:00", VAR_TIMEVALUEONLY, 1899, 12, 30, 9, 5, 0},
        /*12*/ {"0100/01/01 00:00:00", 0, 100, 1, 1, 0, 0, 0},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(Row(++n));
        COleDateTime t;
        ASSERT_TRUE(t.ParseDateTime(c.text, c.flags)) << c.text;
        EXPECT_EQ(COleDateTime::valid, t.GetStatus());
        EXPECT_EQ(COleDateTime(c.y, c.mo, c.d, c.h, c.mi, c.s), t)
            << "expected " << c.y << "-" << c.mo << "-" << c.d << " " << c.h << ":" << c.mi << ":"
            << c.s << ", got " << t.Format("%Y-%m-%d %H:%M:%S");
    }
}

TEST(OleDateTime, ParseRejectsAndMarksInvalid) {
    const char* cases[] = {
        /*1*/ "",
        /*2*/ "   ",
        /*3*/ "garbage",
        /*4*/ "2004/13/01",
        /*5*/ "2004/02/30",
        /*6*/ "2003/02/29 00:00:00",
        /*7*/ "2004/03/07 24:00:00",
        /*8*/ "2004/03/07 09:60",
        /*9*/ "04/03/07",
        /*10*/ "2004/03-07",
        /*11*/ "2004/03/07 09:05:00 extra",
        /*12*/ "0099/12/31",
        /*13*/ "2004/03/07 09",
        /*14*/ "2004/03/07 13:00 PM",
        /*15*/ "2004/03/07 09:05:00PMX",
        /*16*/ "20040/03/07",
        /*17*/ "2004/003/07",
        /*18*/ "2004/03/07x",
        /*19*/ "2004/03/07 09:5",
        /*20*/ "-2004/03/07",
    };
    int n = 0;
    for (const char* text : cases) {
        SCOPED_TRACE(Row(++n));
        COleDateTime t(2004, 1, 1, 0, 0, 0);
        EXPECT_FALSE(t.ParseDateTime(text)) << '"' << text << '"';
        EXPECT_EQ(COleDateTime::invalid, t.GetStatus());
    }
    COleDateTime t;
    EXPECT_FALSE(t.ParseDateTime(nullptr));
    EXPECT_EQ(COleDateTime::invalid, t.GetStatus());
}

TEST(OleDateTime, SpansInDaysWithFraction) {
    struct Case {
        COleDateTime later, earlier;
        double totalDays;
        long days, hours;
        int truncated;  // (int)GetTotalDays(), as a caller truncating toward zero sees it
    };
    const COleDateTime base(2004, 3, 7, 9, 5, 0);
    const Case cases[] = {
        /*1*/ {base, COleDateTime(2004, 2, 25, 10, 5, 0), 10 + 23 / 24.0, 10, 23, 10},
        /*2*/ {base, COleDateTime(2004, 2, 25, 9, 5, 0), 11.0, 11, 0, 11},
        /*3*/ {COleDateTime(2004, 2, 25, 9, 5, 0), base, -11.0, -11, 0, -11},
        /*4*/ {COleDateTime(2004, 2, 25, 10, 5, 0), base, -(10 + 23 / 24.0), -10, -23, -10},
        /*5*/ {base, COleDateTime(2004, 3, 7, 9, 4, 59), 1 / 86400.0, 0, 0, 0},
        /*6*/
        {COleDateTime(1899, 12, 30, 18, 0, 0), COleDateTime(1899, 12, 29, 6, 0, 0), 1.5, 1, 12, 1},
        /*7*/
        {COleDateTime(2004, 3, 28, 3, 0, 0), COleDateTime(2004, 3, 17, 3, 0, 0), 11.0, 11, 0, 11},
        /*8*/
        {COleDateTime(9999, 12, 31, 0, 0, 0), COleDateTime(100, 1, 1, 0, 0, 0), 3615899.0, 3615899,
         0, 3615899},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(Row(++n));
        const COleDateTimeSpan span = c.later - c.earlier;
        EXPECT_EQ(COleDateTimeSpan::valid, span.GetStatus());
        EXPECT_NEAR(c.totalDays, span.GetTotalDays(), 1e-9);
        EXPECT_EQ(c.days, span.GetDays());
        EXPECT_EQ(c.hours, span.GetHours());
        EXPECT_EQ(c.truncated, static_cast<int>(span.GetTotalDays()));
        EXPECT_EQ(c.later, c.earlier + span);
        EXPECT_EQ(c.earlier, c.later - span);
    }
    const COleDateTimeSpan parts(10, 23, 59, 59);
    EXPECT_EQ(10, parts.GetDays());
    EXPECT_EQ(23, parts.GetHours());
    EXPECT_EQ(59, parts.GetMinutes());
    EXPECT_EQ(59, parts.GetSeconds());
    EXPECT_EQ(-59, (-parts).GetSeconds());
}

TEST(OleDateTime, AgesAcrossAClockShift) {
    // A time written now and read back after the clock moved on, as the store sweep does.
    struct Case {
        std::chrono::seconds shift;
        long days;  // whole days, now minus written
    };
    const Case cases[] = {
        /*1*/ {10 * 24h + 23h, 10},
        /*2*/ {11 * 24h, 11},
        /*3*/ {-11 * 24h, -11},
        /*4*/ {0s, 0},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(Row(++n));
        const CString written = COleDateTime::GetCurrentTime().Format("%Y/%m/%d %H:%M:%S");
        ScopedClockShift shift(c.shift);
        COleDateTime then;
        ASSERT_TRUE(then.ParseDateTime(written));
        const COleDateTimeSpan age = COleDateTime::GetCurrentTime() - then;
        // A second may tick between the two readings; summer time may move local time by an hour.
        EXPECT_NEAR(c.shift.count(), age.GetTotalSeconds(), 3600 + 5);
        if (std::abs(age.GetTotalSeconds() - c.shift.count()) <= 5) {
            EXPECT_EQ(c.days, age.GetDays());
        }
    }
}

TEST(OleDateTime, ComparisonsHoldBeforeTheBaseDay) {
    // Raw DATE values order wrongly here: 18:00 is -1.75, 20:00 is -1.833...
    const COleDateTime six(1899, 12, 29, 18, 0, 0), eight(1899, 12, 29, 20, 0, 0);
    EXPECT_TRUE(six < eight);
    EXPECT_TRUE(eight > six);
    EXPECT_TRUE(six <= six);
    EXPECT_FALSE(six == eight);
    EXPECT_TRUE(COleDateTime(1899, 12, 29, 23, 0, 0) < COleDateTime(1899, 12, 30, 1, 0, 0));
}

TEST(OleDateTime, ConstructionFromSystemFormats) {
    ScopedTimeZone zone("UTC-2");
    // 1: a SYSTEMTIME is taken as it stands
    const COleDateTime fromSystem(MakeSystemTime(2004, 3, 7, 9, 5, 0, 999));
    EXPECT_EQ(COleDateTime(2004, 3, 7, 9, 5, 0), fromSystem);
    // 2: so is a FILETIME (a local one, as MFC expects)
    const FILETIME f = FromValue(SystemTimeValue(MakeSystemTime(2004, 3, 7, 9, 5, 0)));
    EXPECT_EQ(COleDateTime(2004, 3, 7, 9, 5, 0), COleDateTime(f));
    // 3: a time_t is turned into local time
    EXPECT_EQ(COleDateTime(1970, 1, 1, 2, 0, 0), COleDateTime(time_t{0}));
    // 4: and back out as a SYSTEMTIME
    SYSTEMTIME s;
    ASSERT_TRUE(fromSystem.GetAsSystemTime(s));
    EXPECT_EQ(0, s.wDayOfWeek);
    EXPECT_EQ(9, s.wHour);
}

}  // namespace
