// COleDateTime and COleDateTimeSpan.
//
// Arithmetic runs on a linear count of seconds from 1899-12-30 00:00, which straightens out
// the DATE encoding (whose whole part counts backwards before that day while its fraction
// counts forwards) and keeps every value to the second, so that whole days stay whole.
#include <cctype>
#include <cmath>
#include <cstring>

#include "afx/format_time.h"
#include "afxdisp.h"
#include "kernel/calendar.h"
#include "platform/clock.h"

using namespace platform::calendar;

namespace {

constexpr int kFieldError = -1;  // AFX_OLE_DATETIME_ERROR
constexpr int kMinYear = 100;
constexpr int kMaxYear = 9999;
constexpr int64_t kBaseDay = DaysFromCivil(1899, 12, 30);
constexpr int64_t kMinSeconds = (DaysFromCivil(kMinYear, 1, 1) - kBaseDay) * kSecondsPerDay;
constexpr int64_t kMaxSeconds =
    (DaysFromCivil(kMaxYear, 12, 31) - kBaseDay) * kSecondsPerDay + kSecondsPerDay - 1;

bool ToLinearSeconds(DATE date, int64_t& seconds) {
    if (!std::isfinite(date) || date < -657435.0 || date > 2958466.0) return false;
    if (date >= 0) {
        seconds = std::llround(date * kSecondsPerDay);
    } else {
        const double whole = std::trunc(date);
        seconds = static_cast<int64_t>(whole) * kSecondsPerDay +
                  std::llround((whole - date) * kSecondsPerDay);
    }
    return seconds >= kMinSeconds && seconds <= kMaxSeconds;
}

DATE FromLinearSeconds(int64_t seconds) {
    const int64_t days = FloorDiv(seconds, kSecondsPerDay);
    const double fraction = static_cast<double>(seconds - days * kSecondsPerDay) / kSecondsPerDay;
    return days >= 0 ? static_cast<double>(days) + fraction : static_cast<double>(days) - fraction;
}

int64_t SpanSeconds(double days) {
    return std::llround(days * kSecondsPerDay);
}

struct Fields {
    int year, month, day, hour, minute, second;
    int dayOfWeek;  // 0 Sunday
    int dayOfYear;  // 0-based
};

bool Decompose(const COleDateTime& time, Fields& fields) {
    int64_t seconds;
    if (time.GetStatus() != COleDateTime::valid || !ToLinearSeconds(time.m_dt, seconds))
        return false;
    const int64_t days = FloorDiv(seconds, kSecondsPerDay) + kBaseDay;
    const int64_t ofDay = seconds - FloorDiv(seconds, kSecondsPerDay) * kSecondsPerDay;
    const CivilDate date = CivilFromDays(days);
    fields.year = static_cast<int>(date.year);
    fields.month = date.month;
    fields.day = date.day;
    fields.hour = static_cast<int>(ofDay / 3600);
    fields.minute = static_cast<int>(ofDay / 60 % 60);
    fields.second = static_cast<int>(ofDay % 60);
    fields.dayOfWeek = WeekdayFromDays(days);
    fields.dayOfYear = static_cast<int>(days - DaysFromCivil(date.year, 1, 1));
    return true;
}

struct tm ToTm(const Fields& fields) {
    struct tm tm {};
    tm.tm_year = fields.year - 1900;
    tm.tm_mon = fields.month - 1;
    tm.tm_mday = fields.day;
    tm.tm_hour = fields.hour;
    tm.tm_min = fields.minute;
    tm.tm_sec = fields.second;
    tm.tm_wday = fields.dayOfWeek;
    tm.tm_yday = fields.dayOfYear;
    // Let the C library tell whether summer time applies, for %Z and %z; the calendar fields
    // stay as they are.
    struct tm probe = tm;
    probe.tm_isdst = -1;
    if (mktime(&probe) != static_cast<time_t>(-1)) {
        tm.tm_isdst = probe.tm_isdst;
#ifndef _WIN32  // the Windows C runtime's struct tm has neither; strftime asks the system
        tm.tm_gmtoff = probe.tm_gmtoff;
        tm.tm_zone = probe.tm_zone;
#endif
    }
    return tm;
}

// A small reader for ParseDateTime.
class TextReader {
public:
    explicit TextReader(const char* text) : m_p(text) {}

    void SkipSpaces() {
        while (std::isspace(static_cast<unsigned char>(*m_p))) ++m_p;
    }
    bool AtEnd() const { return *m_p == '\0'; }
    char Peek() const { return *m_p; }
    bool Take(char ch) {
        if (*m_p != ch) return false;
        ++m_p;
        return true;
    }
    bool TakeNoCase(const char* word) {
        const size_t n = std::strlen(word);
        if (strncasecmp(m_p, word, n) != 0) return false;
        m_p += n;
        return true;
    }
    // Reads minDigits to maxDigits decimal digits; more digits than that is a failure.
    bool Number(int minDigits, int maxDigits, int& value) {
        int count = 0;
        value = 0;
        while (std::isdigit(static_cast<unsigned char>(*m_p))) {
            if (++count > maxDigits) return false;
            value = value * 10 + (*m_p++ - '0');
        }
        return count >= minDigits;
    }
    const char* Position() const { return m_p; }
    void Rewind(const char* position) { m_p = position; }

private:
    const char* m_p;
};

// A year of three or four digits (strftime writes years before 1000 without padding), then
// month and day with the same separator. Leaves the fields alone unless it reads a date.
bool ReadDate(TextReader& reader, int& year, int& month, int& day) {
    const char* start = reader.Position();
    int y, m, d;
    if (reader.Number(3, 4, y)) {
        const char separator = reader.Peek();
        if ((separator == '/' || separator == '-' || separator == '.') && reader.Take(separator) &&
            reader.Number(1, 2, m) && reader.Take(separator) && reader.Number(1, 2, d)) {
            year = y, month = m, day = d;
            return true;
        }
    }
    reader.Rewind(start);
    return false;
}

bool ReadTime(TextReader& reader, int& hour, int& minute, int& second) {
    second = 0;
    if (!reader.Number(1, 2, hour) || !reader.Take(':') || !reader.Number(2, 2, minute))
        return false;
    if (reader.Take(':') && !reader.Number(2, 2, second)) return false;
    // A 12-hour clock, when marked.
    const char* beforeMark = reader.Position();
    reader.SkipSpaces();
    const bool am = reader.TakeNoCase("AM");
    const bool pm = !am && reader.TakeNoCase("PM");
    if (!am && !pm) {
        reader.Rewind(beforeMark);
        return true;
    }
    if (hour < 1 || hour > 12) return false;
    hour = hour % 12 + (pm ? 12 : 0);
    return true;
}

}  // namespace

// ---- COleDateTimeSpan -------------------------------------------------------------------------

COleDateTimeSpan::COleDateTimeSpan(long days, int hours, int minutes, int seconds) {
    SetDateTimeSpan(days, hours, minutes, seconds);
}

void COleDateTimeSpan::SetDateTimeSpan(long days, int hours, int minutes, int seconds) {
    const int64_t total = ((int64_t{days} * 24 + hours) * 60 + minutes) * 60 + seconds;
    m_span = static_cast<double>(total) / kSecondsPerDay;
    m_status = valid;
}

long COleDateTimeSpan::GetDays() const {
    return static_cast<long>(SpanSeconds(m_span) / kSecondsPerDay);
}
long COleDateTimeSpan::GetHours() const {
    return static_cast<long>(SpanSeconds(m_span) / 3600 % 24);
}
long COleDateTimeSpan::GetMinutes() const {
    return static_cast<long>(SpanSeconds(m_span) / 60 % 60);
}
long COleDateTimeSpan::GetSeconds() const {
    return static_cast<long>(SpanSeconds(m_span) % 60);
}

namespace {
COleDateTimeSpan CombineSpans(const COleDateTimeSpan& a, const COleDateTimeSpan& b, double value) {
    COleDateTimeSpan result(value);
    if (a.GetStatus() != COleDateTimeSpan::valid || b.GetStatus() != COleDateTimeSpan::valid)
        result.SetStatus(COleDateTimeSpan::invalid);
    return result;
}
}  // namespace

COleDateTimeSpan COleDateTimeSpan::operator+(const COleDateTimeSpan& other) const {
    return CombineSpans(*this, other, m_span + other.m_span);
}
COleDateTimeSpan COleDateTimeSpan::operator-(const COleDateTimeSpan& other) const {
    return CombineSpans(*this, other, m_span - other.m_span);
}
COleDateTimeSpan COleDateTimeSpan::operator-() const {
    COleDateTimeSpan result(-m_span);
    result.m_status = m_status;
    return result;
}
COleDateTimeSpan& COleDateTimeSpan::operator+=(const COleDateTimeSpan& other) {
    return *this = *this + other;
}
COleDateTimeSpan& COleDateTimeSpan::operator-=(const COleDateTimeSpan& other) {
    return *this = *this - other;
}
bool COleDateTimeSpan::operator==(const COleDateTimeSpan& o) const {
    return m_span == o.m_span;
}
bool COleDateTimeSpan::operator!=(const COleDateTimeSpan& o) const {
    return m_span != o.m_span;
}
bool COleDateTimeSpan::operator<(const COleDateTimeSpan& o) const {
    return m_span < o.m_span;
}
bool COleDateTimeSpan::operator>(const COleDateTimeSpan& o) const {
    return m_span > o.m_span;
}
bool COleDateTimeSpan::operator<=(const COleDateTimeSpan& o) const {
    return m_span <= o.m_span;
}
bool COleDateTimeSpan::operator>=(const COleDateTimeSpan& o) const {
    return m_span >= o.m_span;
}

// ---- COleDateTime: construction -------------------------------------------------------------

COleDateTime COleDateTime::GetCurrentTime() {
    const int64_t now = platform::ClockNowFileTime();
    return COleDateTime(
        static_cast<time_t>(FloorDiv(now - kUnixEpochAsFileTime, kFileTimeUnitsPerSecond)));
}

COleDateTime::COleDateTime(DATE date) {
    *this = date;
}
COleDateTime::COleDateTime(time_t time) {
    *this = time;
}
COleDateTime::COleDateTime(const SYSTEMTIME& localTime) {
    *this = localTime;
}
COleDateTime::COleDateTime(const FILETIME& localTime) {
    *this = localTime;
}
COleDateTime::COleDateTime(int year, int month, int day, int hour, int minute, int second) {
    SetDateTime(year, month, day, hour, minute, second);
}

COleDateTime& COleDateTime::operator=(DATE date) {
    int64_t seconds;
    m_dt = date;
    m_status = ToLinearSeconds(date, seconds) ? valid : invalid;
    return *this;
}

COleDateTime& COleDateTime::operator=(time_t time) {
    struct tm local;
    if (localtime_r(&time, &local) == nullptr) {
        m_dt = 0;
        m_status = invalid;
        return *this;
    }
    SetDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                local.tm_sec);
    return *this;
}

COleDateTime& COleDateTime::operator=(const SYSTEMTIME& localTime) {
    SetDateTime(localTime.wYear, localTime.wMonth, localTime.wDay, localTime.wHour,
                localTime.wMinute, localTime.wSecond);
    return *this;
}

COleDateTime& COleDateTime::operator=(const FILETIME& localTime) {
    // FileTimeToSystemTime is pure calendar arithmetic: do it here rather than depend on the
    // kernel's entry point (and its last-error side effect).
    const int64_t value = static_cast<int64_t>(
        (static_cast<uint64_t>(localTime.dwHighDateTime) << 32) | localTime.dwLowDateTime);
    if (value < 0) {
        m_dt = 0;
        m_status = invalid;
        return *this;
    }
    const int64_t seconds = value / kFileTimeUnitsPerSecond;
    const int64_t days = FloorDiv(seconds, kSecondsPerDay);
    const CivilDate date = CivilFromDays(days + DaysFromCivil(1601, 1, 1));
    const int64_t ofDay = seconds - days * kSecondsPerDay;
    SetDateTime(static_cast<int>(date.year), date.month, date.day, static_cast<int>(ofDay / 3600),
                static_cast<int>(ofDay / 60 % 60), static_cast<int>(ofDay % 60));
    return *this;
}

int COleDateTime::SetDateTime(int year, int month, int day, int hour, int minute, int second) {
    if (year < kMinYear || year > kMaxYear || !IsValidDate(year, month, day) ||
        !IsValidTime(hour, minute, second)) {
        m_dt = 0;
        m_status = invalid;
        return m_status;
    }
    const int64_t seconds = (DaysFromCivil(year, month, day) - kBaseDay) * kSecondsPerDay +
                            hour * 3600 + minute * 60 + second;
    m_dt = FromLinearSeconds(seconds);
    m_status = valid;
    return m_status;
}

int COleDateTime::SetDate(int year, int month, int day) {
    return SetDateTime(year, month, day, 0, 0, 0);
}

int COleDateTime::SetTime(int hour, int minute, int second) {
    return SetDateTime(1899, 12, 30, hour, minute, second);
}

// ---- COleDateTime: fields -------------------------------------------------------------------

#define OLE_FIELD(name, expression)                              \
    int COleDateTime::name() const {                             \
        Fields f;                                                \
        return Decompose(*this, f) ? (expression) : kFieldError; \
    }
OLE_FIELD(GetYear, f.year)
OLE_FIELD(GetMonth, f.month)
OLE_FIELD(GetDay, f.day)
OLE_FIELD(GetHour, f.hour)
OLE_FIELD(GetMinute, f.minute)
OLE_FIELD(GetSecond, f.second)
OLE_FIELD(GetDayOfWeek, f.dayOfWeek + 1)
OLE_FIELD(GetDayOfYear, f.dayOfYear + 1)
#undef OLE_FIELD

BOOL COleDateTime::GetAsSystemTime(SYSTEMTIME& localTime) const {
    Fields f;
    if (!Decompose(*this, f)) return FALSE;
    localTime.wYear = static_cast<WORD>(f.year);
    localTime.wMonth = static_cast<WORD>(f.month);
    localTime.wDayOfWeek = static_cast<WORD>(f.dayOfWeek);
    localTime.wDay = static_cast<WORD>(f.day);
    localTime.wHour = static_cast<WORD>(f.hour);
    localTime.wMinute = static_cast<WORD>(f.minute);
    localTime.wSecond = static_cast<WORD>(f.second);
    localTime.wMilliseconds = 0;
    return TRUE;
}

// ---- COleDateTime: text ---------------------------------------------------------------------

CString COleDateTime::Format(LPCTSTR format) const {
    if (m_status == null) return CString();
    Fields f;
    if (!Decompose(*this, f)) return CString("Invalid DateTime");
    return platform::FormatTm(ToTm(f), format);
}

// Like the original's default form, a midnight shows only its date and a time on the base
// day only its time. The layout is the one ParseDateTime reads back.
CString COleDateTime::Format(DWORD flags, LCID) const {
    if (m_status == null) return CString();
    Fields f;
    if (!Decompose(*this, f)) return CString("Invalid DateTime");
    const bool midnight = f.hour == 0 && f.minute == 0 && f.second == 0;
    const bool baseDay = f.year == 1899 && f.month == 12 && f.day == 30;
    const char* format = "%Y/%m/%d %H:%M:%S";
    if ((flags & VAR_DATEVALUEONLY) || (midnight && !(flags & VAR_TIMEVALUEONLY)))
        format = "%Y/%m/%d";
    else if ((flags & VAR_TIMEVALUEONLY) || baseDay)
        format = "%H:%M:%S";
    return platform::FormatTm(ToTm(f), format);
}

BOOL COleDateTime::ParseDateTime(LPCTSTR text, DWORD flags, LCID) {
    int year = 1899, month = 12, day = 30, hour = 0, minute = 0, second = 0;
    bool ok = text != nullptr;
    if (ok) {
        TextReader reader(text);
        reader.SkipSpaces();
        const bool hasDate = ReadDate(reader, year, month, day);
        bool hasTime = false;
        if (hasDate) {
            // The time follows after spaces or an ISO 'T', or not at all.
            const char* afterDate = reader.Position();
            reader.SkipSpaces();
            if (!reader.AtEnd() && (reader.Position() != afterDate || reader.Take('T'))) {
                hasTime = ReadTime(reader, hour, minute, second);
                ok = hasTime;
            }
        } else {
            hasTime = ReadTime(reader, hour, minute, second);
        }
        reader.SkipSpaces();
        ok = ok && (hasDate || hasTime) && reader.AtEnd();
    }
    if (ok) {
        if (flags & VAR_DATEVALUEONLY) hour = minute = second = 0;
        if (flags & VAR_TIMEVALUEONLY) year = 1899, month = 12, day = 30;
        ok = SetDateTime(year, month, day, hour, minute, second) == valid;
    }
    if (!ok) {
        m_dt = 0;
        m_status = invalid;
        return FALSE;
    }
    return TRUE;
}

// ---- COleDateTime: arithmetic and comparison ------------------------------------------------

COleDateTime COleDateTime::operator+(const COleDateTimeSpan& span) const {
    COleDateTime result;
    int64_t seconds;
    if (m_status != valid || span.GetStatus() != COleDateTimeSpan::valid ||
        !ToLinearSeconds(m_dt, seconds) || !std::isfinite(span.m_span) ||
        std::fabs(span.m_span) > 1e7) {
        result.m_status = invalid;
        return result;
    }
    seconds += SpanSeconds(span.m_span);
    if (seconds < kMinSeconds || seconds > kMaxSeconds) {
        result.m_status = invalid;
        return result;
    }
    result.m_dt = FromLinearSeconds(seconds);
    return result;
}

COleDateTime COleDateTime::operator-(const COleDateTimeSpan& span) const {
    return *this + (-span);
}

COleDateTime& COleDateTime::operator+=(const COleDateTimeSpan& span) {
    return *this = *this + span;
}
COleDateTime& COleDateTime::operator-=(const COleDateTimeSpan& span) {
    return *this = *this - span;
}

COleDateTimeSpan COleDateTime::operator-(const COleDateTime& other) const {
    int64_t a, b;
    if (m_status != valid || other.m_status != valid || !ToLinearSeconds(m_dt, a) ||
        !ToLinearSeconds(other.m_dt, b)) {
        COleDateTimeSpan result;
        result.SetStatus(COleDateTimeSpan::invalid);
        return result;
    }
    return COleDateTimeSpan(static_cast<double>(a - b) / kSecondsPerDay);
}

namespace {
// Compares on the linear scale: a raw DATE compares wrongly before 1899-12-30.
int CompareDates(const COleDateTime& a, const COleDateTime& b) {
    int64_t x, y;
    if (ToLinearSeconds(a.m_dt, x) && ToLinearSeconds(b.m_dt, y)) return x < y ? -1 : x > y ? 1 : 0;
    return a.m_dt < b.m_dt ? -1 : a.m_dt > b.m_dt ? 1 : 0;
}
}  // namespace

bool COleDateTime::operator==(const COleDateTime& o) const {
    return m_status == o.m_status && CompareDates(*this, o) == 0;
}
bool COleDateTime::operator!=(const COleDateTime& o) const {
    return !(*this == o);
}
bool COleDateTime::operator<(const COleDateTime& o) const {
    return CompareDates(*this, o) < 0;
}
bool COleDateTime::operator>(const COleDateTime& o) const {
    return CompareDates(*this, o) > 0;
}
bool COleDateTime::operator<=(const COleDateTime& o) const {
    return CompareDates(*this, o) <= 0;
}
bool COleDateTime::operator>=(const COleDateTime& o) const {
    return CompareDates(*this, o) >= 0;
}
