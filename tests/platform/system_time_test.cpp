// System time conversions: SYSTEMTIME to FILETIME and back, across the whole range of both.
// ctest-labels: win32
#include <gtest/gtest.h>

#include <string>

#include "file_times.h"
#include "windows.h"

namespace {

using namespace portrix_test;

std::string Row(int n) {
    return "row " + std::to_string(n);
}

TEST(FileTime, SystemTimeConversions) {
    struct Case {
        SYSTEMTIME time;
        LONGLONG value;
        WORD dayOfWeek;
    };
    const Case cases[] = {
        /*1*/ {MakeSystemTime(1601, 1, 1, 0, 0, 0), 0, 1},  // a Monday
        /*2*/ {MakeSystemTime(1970, 1, 1, 0, 0, 0), kUnixEpoch, 4},
        /*3*/
        {MakeSystemTime(2004, 2, 29, 23, 59, 59, 999),
         kUnixEpoch + (1078099199LL * 1000 + 999) * 10'000, 0},
        /*4*/ {MakeSystemTime(2000, 3, 1, 12, 0, 0), kUnixEpoch + 951912000LL * kUnitsPerSecond, 3},
        /*5*/ {MakeSystemTime(1900, 3, 1, 0, 0, 0), kUnixEpoch - 2203891200LL * kUnitsPerSecond, 4},
        /*6*/ {MakeSystemTime(30827, 12, 31, 23, 59, 59, 999), 0x7FFF35F4F06C58F0LL, 5},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(Row(++n));
        EXPECT_EQ(c.value, SystemTimeValue(c.time));
        SYSTEMTIME back{};
        const FILETIME f = FromValue(c.value);
        ASSERT_TRUE(FileTimeToSystemTime(&f, &back));
        EXPECT_EQ(c.time.wYear, back.wYear);
        EXPECT_EQ(c.time.wMonth, back.wMonth);
        EXPECT_EQ(c.time.wDay, back.wDay);
        EXPECT_EQ(c.time.wHour, back.wHour);
        EXPECT_EQ(c.time.wMinute, back.wMinute);
        EXPECT_EQ(c.time.wSecond, back.wSecond);
        EXPECT_EQ(c.time.wMilliseconds, back.wMilliseconds);
        EXPECT_EQ(c.dayOfWeek, back.wDayOfWeek);
    }
}

}  // namespace
