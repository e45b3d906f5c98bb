// FILETIME and SYSTEMTIME values for tests: FILETIME as one 64-bit count of 100 ns units since
// 1601, and a SYSTEMTIME made from its fields.
#pragma once

#include <gtest/gtest.h>

#include "windows.h"

namespace portrix_test {

inline constexpr LONGLONG kUnitsPerSecond = 10'000'000;
inline constexpr LONGLONG kUnixEpoch = 116444736000000000LL;

inline LONGLONG ToValue(const FILETIME& time) {
    return static_cast<LONGLONG>((ULONGLONG{time.dwHighDateTime} << 32) | time.dwLowDateTime);
}

inline FILETIME FromValue(LONGLONG value) {
    FILETIME time;
    time.dwLowDateTime = static_cast<DWORD>(value);
    time.dwHighDateTime = static_cast<DWORD>(static_cast<ULONGLONG>(value) >> 32);
    return time;
}

inline SYSTEMTIME MakeSystemTime(int y, int mo, int d, int h, int mi, int s, int ms = 0) {
    SYSTEMTIME t{};
    t.wYear = static_cast<WORD>(y);
    t.wMonth = static_cast<WORD>(mo);
    t.wDay = static_cast<WORD>(d);
    t.wHour = static_cast<WORD>(h);
    t.wMinute = static_cast<WORD>(mi);
    t.wSecond = static_cast<WORD>(s);
    t.wMilliseconds = static_cast<WORD>(ms);
    return t;
}

inline LONGLONG SystemTimeValue(const SYSTEMTIME& t) {
    FILETIME f;
    EXPECT_TRUE(SystemTimeToFileTime(&t, &f));
    return ToValue(f);
}

}  // namespace portrix_test
