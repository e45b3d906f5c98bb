// CTime and CTimeSpan.
#include "afx/format_time.h"
#include "afxtime.h"
#include "kernel/calendar.h"
#include "platform/clock.h"

using namespace platform::calendar;
using platform::FormatTm;

namespace {

thread_local struct tm t_tmBuffer;

}  // namespace

CTimeSpan::CTimeSpan(LONG days, int hours, int minutes, int seconds)
    : m_span(((time_t{days} * 24 + hours) * 60 + minutes) * 60 + seconds) {}

CTime CTime::GetCurrentTime() {
    const int64_t now = platform::ClockNowFileTime();
    return CTime(
        static_cast<time_t>(FloorDiv(now - kUnixEpochAsFileTime, kFileTimeUnitsPerSecond)));
}

CTime::CTime(int year, int month, int day, int hour, int minute, int second, int dst) {
    struct tm tm {};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    tm.tm_isdst = dst;
    m_time = mktime(&tm);
}

CTime::CTime(const SYSTEMTIME& localTime, int dst)
    : CTime(localTime.wYear, localTime.wMonth, localTime.wDay, localTime.wHour, localTime.wMinute,
            localTime.wSecond, dst) {}

CTime::CTime(const FILETIME& utcTime, int) {
    const int64_t value = static_cast<int64_t>(
        (static_cast<uint64_t>(utcTime.dwHighDateTime) << 32) | utcTime.dwLowDateTime);
    m_time = static_cast<time_t>(FloorDiv(value - kUnixEpochAsFileTime, kFileTimeUnitsPerSecond));
}

struct tm* CTime::GetLocalTm(struct tm* tm) const {
    return localtime_r(&m_time, tm ? tm : &t_tmBuffer);
}

struct tm* CTime::GetGmtTm(struct tm* tm) const {
    return gmtime_r(&m_time, tm ? tm : &t_tmBuffer);
}

int CTime::GetYear() const {
    return GetLocalTm()->tm_year + 1900;
}
int CTime::GetMonth() const {
    return GetLocalTm()->tm_mon + 1;
}
int CTime::GetDay() const {
    return GetLocalTm()->tm_mday;
}
int CTime::GetHour() const {
    return GetLocalTm()->tm_hour;
}
int CTime::GetMinute() const {
    return GetLocalTm()->tm_min;
}
int CTime::GetSecond() const {
    return GetLocalTm()->tm_sec;
}
int CTime::GetDayOfWeek() const {
    return GetLocalTm()->tm_wday + 1;
}

BOOL CTime::GetAsSystemTime(SYSTEMTIME& localTime) const {
    struct tm tm;
    if (!GetLocalTm(&tm) || tm.tm_year + 1900 < 1601 || tm.tm_year + 1900 > 30827) return FALSE;
    localTime.wYear = static_cast<WORD>(tm.tm_year + 1900);
    localTime.wMonth = static_cast<WORD>(tm.tm_mon + 1);
    localTime.wDayOfWeek = static_cast<WORD>(tm.tm_wday);
    localTime.wDay = static_cast<WORD>(tm.tm_mday);
    localTime.wHour = static_cast<WORD>(tm.tm_hour);
    localTime.wMinute = static_cast<WORD>(tm.tm_min);
    localTime.wSecond = static_cast<WORD>(tm.tm_sec);
    localTime.wMilliseconds = 0;
    return TRUE;
}

CString CTime::Format(LPCTSTR format) const {
    struct tm tm;
    return GetLocalTm(&tm) ? FormatTm(tm, format) : CString();
}

CString CTime::FormatGmt(LPCTSTR format) const {
    struct tm tm;
    return GetGmtTm(&tm) ? FormatTm(tm, format) : CString();
}
