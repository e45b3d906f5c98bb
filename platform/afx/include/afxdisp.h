// MFC: COleDateTime and COleDateTimeSpan.
// A COleDateTime is a local date and time held as an OLE DATE: days since 1899-12-30 00:00,
// the fraction being the time of day. Before that day the whole part counts backwards while
// the fraction still counts forwards (-1.25 is 1899-12-29 06:00), as OLE defines it.
// Valid dates run from 100-01-01 to 9999-12-31; the layer keeps them to the second.
#pragma once
#include <ctime>

#include "afxstr.h"
#include "afxsys.h"

#ifndef LANG_USER_DEFAULT
#define LANG_USER_DEFAULT 0x0400
#endif
#ifndef LOCALE_NOUSEROVERRIDE
#define LOCALE_NOUSEROVERRIDE 0x80000000u
#endif
#ifndef VAR_TIMEVALUEONLY
#define VAR_TIMEVALUEONLY 0x00000001u
#endif
#ifndef VAR_DATEVALUEONLY
#define VAR_DATEVALUEONLY 0x00000002u
#endif

class COleDateTimeSpan {
public:
    enum DateTimeSpanStatus { valid = 0, invalid = 1, null = 2 };

    COleDateTimeSpan() = default;
    COleDateTimeSpan(double days) : m_span(days) {}  // NOLINT: implicit, as in MFC
    COleDateTimeSpan(long days, int hours, int minutes, int seconds);

    DateTimeSpanStatus GetStatus() const { return m_status; }
    void SetStatus(DateTimeSpanStatus status) { m_status = status; }
    void SetDateTimeSpan(long days, int hours, int minutes, int seconds);

    // Totals keep the fraction: 10 days and 12 hours give GetTotalDays() == 10.5.
    double GetTotalDays() const { return m_span; }
    double GetTotalHours() const { return m_span * 24; }
    double GetTotalMinutes() const { return m_span * 24 * 60; }
    double GetTotalSeconds() const { return m_span * 24 * 60 * 60; }
    // Components, from the span rounded to the second; each truncated toward zero and
    // carrying the span's sign: 10 days 23 hours gives GetDays() 10 and GetHours() 23.
    long GetDays() const;
    long GetHours() const;
    long GetMinutes() const;
    long GetSeconds() const;

    operator double() const { return m_span; }  // NOLINT: implicit, as in MFC

    COleDateTimeSpan operator+(const COleDateTimeSpan& other) const;
    COleDateTimeSpan operator-(const COleDateTimeSpan& other) const;
    COleDateTimeSpan operator-() const;
    COleDateTimeSpan& operator+=(const COleDateTimeSpan& other);
    COleDateTimeSpan& operator-=(const COleDateTimeSpan& other);
    bool operator==(const COleDateTimeSpan& other) const;
    bool operator!=(const COleDateTimeSpan& other) const;
    bool operator<(const COleDateTimeSpan& other) const;
    bool operator>(const COleDateTimeSpan& other) const;
    bool operator<=(const COleDateTimeSpan& other) const;
    bool operator>=(const COleDateTimeSpan& other) const;

    double m_span = 0;
    DateTimeSpanStatus m_status = valid;
};

class COleDateTime {
public:
    enum DateTimeStatus { valid = 0, invalid = 1, null = 2 };

    // The current local time of the layer's clock, to the second.
    static COleDateTime GetCurrentTime();

    COleDateTime() = default;
    COleDateTime(DATE date);                    // NOLINT: implicit, as in MFC
    COleDateTime(time_t time);                  // NOLINT: implicit, as in MFC
    COleDateTime(const SYSTEMTIME& localTime);  // NOLINT: implicit, as in MFC
    // The caller's FILETIME is taken as it stands (a local file time, as in MFC: convert a
    // file system's UTC time with FileTimeToLocalFileTime first).
    COleDateTime(const FILETIME& localTime);  // NOLINT: implicit, as in MFC
    COleDateTime(int year, int month, int day, int hour, int minute, int second);

    COleDateTime& operator=(DATE date);
    COleDateTime& operator=(time_t time);
    COleDateTime& operator=(const SYSTEMTIME& localTime);
    COleDateTime& operator=(const FILETIME& localTime);

    DateTimeStatus GetStatus() const { return m_status; }
    void SetStatus(DateTimeStatus status) { m_status = status; }
    // Each returns the new status: 0 (valid) when set, 1 (invalid) when a field is out of range.
    int SetDateTime(int year, int month, int day, int hour, int minute, int second);
    int SetDate(int year, int month, int day);
    int SetTime(int hour, int minute, int second);

    // Fields, or -1 (AFX_OLE_DATETIME_ERROR) when the object is not valid.
    int GetYear() const;
    int GetMonth() const;
    int GetDay() const;
    int GetHour() const;
    int GetMinute() const;
    int GetSecond() const;
    int GetDayOfWeek() const;  // 1 Sunday .. 7 Saturday
    int GetDayOfYear() const;  // 1 = January 1st
    BOOL GetAsSystemTime(SYSTEMTIME& localTime) const;

    operator DATE() const { return m_dt; }  // NOLINT: implicit, as in MFC

    // strftime formats; an invalid object gives "Invalid DateTime", a null one "".
    CString Format(LPCTSTR format) const;
    // The locale's usual date and time ("%x %X"); with VAR_DATEVALUEONLY or VAR_TIMEVALUEONLY
    // only the date or only the time.
    CString Format(DWORD flags = 0, LCID locale = LANG_USER_DEFAULT) const;

    // Reads a date and time; on failure the object is marked invalid and FALSE is returned.
    // Accepted: a date "Y/M/D", "Y-M-D" or "Y.M.D" (three- or four-digit year, one- or
    // two-digit month and day), optionally followed by spaces or 'T' and a time "H:M" or
    // "H:M:S" (24-hour, or 12-hour with AM/PM), or a time alone (which lands on 1899-12-30).
    // Leading and trailing spaces are ignored.
    // VAR_DATEVALUEONLY drops the time, VAR_TIMEVALUEONLY drops the date.
    BOOL ParseDateTime(LPCTSTR text, DWORD flags = 0, LCID locale = LANG_USER_DEFAULT);

    COleDateTime operator+(const COleDateTimeSpan& span) const;
    COleDateTime operator-(const COleDateTimeSpan& span) const;
    COleDateTime& operator+=(const COleDateTimeSpan& span);
    COleDateTime& operator-=(const COleDateTimeSpan& span);
    // The difference, rounded to the second so that whole days stay whole.
    COleDateTimeSpan operator-(const COleDateTime& other) const;

    bool operator==(const COleDateTime& other) const;
    bool operator!=(const COleDateTime& other) const;
    bool operator<(const COleDateTime& other) const;
    bool operator>(const COleDateTime& other) const;
    bool operator<=(const COleDateTime& other) const;
    bool operator>=(const COleDateTime& other) const;

    DATE m_dt = 0;
    DateTimeStatus m_status = valid;
};
