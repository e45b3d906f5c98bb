// MFC: CTime (a moment, in whole seconds since 1970 UTC) and CTimeSpan (a signed length of time
// in seconds). Calendar fields are local time, in the process's TZ.
#pragma once
#include <ctime>

#include "afxstr.h"
#include "afxsys.h"

class CTimeSpan {
public:
    CTimeSpan() = default;
    CTimeSpan(time_t seconds) : m_span(seconds) {}  // NOLINT: implicit, as in MFC
    CTimeSpan(LONG days, int hours, int minutes, int seconds);

    LONG GetDays() const { return static_cast<LONG>(m_span / (24 * 3600)); }
    LONG GetTotalHours() const { return static_cast<LONG>(m_span / 3600); }
    int GetHours() const { return static_cast<int>(GetTotalHours() - GetDays() * 24); }
    LONG GetTotalMinutes() const { return static_cast<LONG>(m_span / 60); }
    int GetMinutes() const { return static_cast<int>(GetTotalMinutes() - GetTotalHours() * 60); }
    time_t GetTotalSeconds() const { return m_span; }
    int GetSeconds() const { return static_cast<int>(GetTotalSeconds() - GetTotalMinutes() * 60); }

    CTimeSpan operator+(CTimeSpan other) const { return CTimeSpan(m_span + other.m_span); }
    CTimeSpan operator-(CTimeSpan other) const { return CTimeSpan(m_span - other.m_span); }
    CTimeSpan operator-() const { return CTimeSpan(-m_span); }
    CTimeSpan& operator+=(CTimeSpan other) {
        m_span += other.m_span;
        return *this;
    }
    CTimeSpan& operator-=(CTimeSpan other) {
        m_span -= other.m_span;
        return *this;
    }
    bool operator==(CTimeSpan other) const { return m_span == other.m_span; }
    bool operator!=(CTimeSpan other) const { return m_span != other.m_span; }
    bool operator<(CTimeSpan other) const { return m_span < other.m_span; }
    bool operator>(CTimeSpan other) const { return m_span > other.m_span; }
    bool operator<=(CTimeSpan other) const { return m_span <= other.m_span; }
    bool operator>=(CTimeSpan other) const { return m_span >= other.m_span; }

private:
    time_t m_span = 0;
};

class CTime {
public:
    // The current time of the layer's clock, to the second.
    static CTime GetCurrentTime();

    CTime() = default;
    CTime(time_t time) : m_time(time) {}  // NOLINT: implicit, as in MFC
    // Local calendar time; dst < 0 lets the C library decide whether summer time applies.
    CTime(int year, int month, int day, int hour, int minute, int second, int dst = -1);
    CTime(const SYSTEMTIME& localTime, int dst = -1);
    // A UTC file time (as file systems report them), truncated to the second.
    CTime(const FILETIME& utcTime, int dst = -1);

    time_t GetTime() const { return m_time; }
    // Fields of the local time; GetDayOfWeek gives 1 for Sunday to 7 for Saturday.
    int GetYear() const;
    int GetMonth() const;
    int GetDay() const;
    int GetHour() const;
    int GetMinute() const;
    int GetSecond() const;
    int GetDayOfWeek() const;
    // Fill *tm (or a per-thread buffer when tm is null) and return it; null if out of range.
    struct tm* GetLocalTm(struct tm* tm = nullptr) const;
    struct tm* GetGmtTm(struct tm* tm = nullptr) const;
    BOOL GetAsSystemTime(SYSTEMTIME& localTime) const;

    // strftime formats, in local time and in UTC.
    CString Format(LPCTSTR format) const;
    CString FormatGmt(LPCTSTR format) const;

    CTimeSpan operator-(CTime other) const { return CTimeSpan(m_time - other.m_time); }
    CTime operator+(CTimeSpan span) const { return CTime(m_time + span.GetTotalSeconds()); }
    CTime operator-(CTimeSpan span) const { return CTime(m_time - span.GetTotalSeconds()); }
    CTime& operator+=(CTimeSpan span) {
        m_time += span.GetTotalSeconds();
        return *this;
    }
    CTime& operator-=(CTimeSpan span) {
        m_time -= span.GetTotalSeconds();
        return *this;
    }
    bool operator==(CTime other) const { return m_time == other.m_time; }
    bool operator!=(CTime other) const { return m_time != other.m_time; }
    bool operator<(CTime other) const { return m_time < other.m_time; }
    bool operator>(CTime other) const { return m_time > other.m_time; }
    bool operator<=(CTime other) const { return m_time <= other.m_time; }
    bool operator>=(CTime other) const { return m_time >= other.m_time; }

private:
    time_t m_time = 0;
};
