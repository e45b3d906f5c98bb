// Time: tick counts, the system and local time, FILETIME and SYSTEMTIME conversions.
#include <chrono>

#include "kernel/calendar.h"
#include "platform/clock.h"
#include "windows.h"

using namespace platform::calendar;

namespace {

int64_t FromFileTime(const FILETIME& time) {
    return static_cast<int64_t>((static_cast<uint64_t>(time.dwHighDateTime) << 32) |
                                time.dwLowDateTime);
}

FILETIME ToFileTime(int64_t value) {
    FILETIME time;
    time.dwLowDateTime = static_cast<DWORD>(static_cast<uint64_t>(value));
    time.dwHighDateTime = static_cast<DWORD>(static_cast<uint64_t>(value) >> 32);
    return time;
}

// The original platform converts between UTC and local file times with the bias in force
// now, not the one in force at the time converted. Keeping that means a local creation time
// compared with the local time now gives the true elapsed time across a summer-time change.
int64_t CurrentLocalBias() {
    const int64_t now = platform::ClockNowFileTime();
    const time_t seconds =
        static_cast<time_t>(FloorDiv(now - kUnixEpochAsFileTime, kFileTimeUnitsPerSecond));
    return static_cast<int64_t>(LocalOffsetAt(seconds)) * kFileTimeUnitsPerSecond;
}

std::chrono::steady_clock::duration SinceStart() {
    return std::chrono::steady_clock::now().time_since_epoch();
}

}  // namespace

DWORD GetTickCount() {
    return static_cast<DWORD>(GetTickCount64());
}

ULONGLONG GetTickCount64() {
    return static_cast<ULONGLONG>(
        std::chrono::duration_cast<std::chrono::milliseconds>(SinceStart()).count());
}

BOOL QueryPerformanceCounter(LARGE_INTEGER* count) {
    count->QuadPart = std::chrono::duration_cast<std::chrono::nanoseconds>(SinceStart()).count();
    return TRUE;
}

BOOL QueryPerformanceFrequency(LARGE_INTEGER* frequency) {
    frequency->QuadPart = 1'000'000'000;
    return TRUE;
}

void GetSystemTimeAsFileTime(LPFILETIME time) {
    *time = ToFileTime(platform::ClockNowFileTime());
}

void GetSystemTime(LPSYSTEMTIME time) {
    const FILETIME now = ToFileTime(platform::ClockNowFileTime());
    FileTimeToSystemTime(&now, time);
}

void GetLocalTime(LPSYSTEMTIME time) {
    const int64_t now = platform::ClockNowFileTime();
    const time_t seconds =
        static_cast<time_t>(FloorDiv(now - kUnixEpochAsFileTime, kFileTimeUnitsPerSecond));
    const FILETIME local =
        ToFileTime(now + int64_t{LocalOffsetAt(seconds)} * kFileTimeUnitsPerSecond);
    FileTimeToSystemTime(&local, time);
}

BOOL FileTimeToLocalFileTime(const FILETIME* utc, LPFILETIME local) {
    const int64_t value = FromFileTime(*utc) + CurrentLocalBias();
    if (value < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *local = ToFileTime(value);
    return TRUE;
}

BOOL LocalFileTimeToFileTime(const FILETIME* local, LPFILETIME utc) {
    const int64_t value = FromFileTime(*local) - CurrentLocalBias();
    if (value < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *utc = ToFileTime(value);
    return TRUE;
}

BOOL FileTimeToSystemTime(const FILETIME* time, LPSYSTEMTIME systemTime) {
    const int64_t value = FromFileTime(*time);
    if (value < 0) {  // the original refuses values with the top bit set
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    constexpr int64_t kUnitsPerDay = kSecondsPerDay * kFileTimeUnitsPerSecond;
    const int64_t days = value / kUnitsPerDay;
    int64_t rest = value % kUnitsPerDay;
    const CivilDate date = CivilFromDays(days + DaysFromCivil(1601, 1, 1));
    systemTime->wYear = static_cast<WORD>(date.year);
    systemTime->wMonth = static_cast<WORD>(date.month);
    systemTime->wDay = static_cast<WORD>(date.day);
    systemTime->wDayOfWeek = static_cast<WORD>(WeekdayFromDays(days + DaysFromCivil(1601, 1, 1)));
    systemTime->wHour = static_cast<WORD>(rest / (3600 * kFileTimeUnitsPerSecond));
    rest %= 3600 * kFileTimeUnitsPerSecond;
    systemTime->wMinute = static_cast<WORD>(rest / (60 * kFileTimeUnitsPerSecond));
    rest %= 60 * kFileTimeUnitsPerSecond;
    systemTime->wSecond = static_cast<WORD>(rest / kFileTimeUnitsPerSecond);
    rest %= kFileTimeUnitsPerSecond;
    systemTime->wMilliseconds = static_cast<WORD>(rest / 10'000);
    return TRUE;
}

BOOL SystemTimeToFileTime(const SYSTEMTIME* systemTime, LPFILETIME time) {
    const SYSTEMTIME& s = *systemTime;
    if (s.wYear < 1601 || s.wYear > 30827 || !IsValidDate(s.wYear, s.wMonth, s.wDay) ||
        !IsValidTime(s.wHour, s.wMinute, s.wSecond) || s.wMilliseconds > 999) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const int64_t days = DaysFromCivil(s.wYear, s.wMonth, s.wDay) - DaysFromCivil(1601, 1, 1);
    const int64_t seconds = days * kSecondsPerDay + s.wHour * 3600 + s.wMinute * 60 + s.wSecond;
    *time = ToFileTime(seconds * kFileTimeUnitsPerSecond + int64_t{s.wMilliseconds} * 10'000);
    return TRUE;
}

LONG CompareFileTime(const FILETIME* a, const FILETIME* b) {
    const uint64_t x = static_cast<uint64_t>(FromFileTime(*a));
    const uint64_t y = static_cast<uint64_t>(FromFileTime(*b));
    return x < y ? -1 : x > y ? 1 : 0;
}
