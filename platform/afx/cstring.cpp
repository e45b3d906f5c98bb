#include "afxstr.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <strings.h>
#include <vector>

namespace {
// Text up to the first NUL: what the original reads out of an LPCTSTR.
std::string FromCString(LPCTSTR text) {
    return text ? std::string(text) : std::string();
}

int Clamp(int value, int low, int high) {
    return std::max(low, std::min(value, high));
}
}  // namespace

CString::CString(LPCTSTR text) : m_text(FromCString(text)) {}

CString::CString(LPCTSTR text, int length) {
    if (text && length > 0) m_text.assign(text, static_cast<size_t>(length));
}

CString::CString(TCHAR ch, int repeat) {
    if (repeat > 0) m_text.assign(static_cast<size_t>(repeat), ch);
}

CString& CString::operator=(LPCTSTR text) {
    m_text = FromCString(text);
    return *this;
}

CString& CString::operator=(TCHAR ch) {
    m_text.assign(1, ch);
    return *this;
}

CString& CString::operator+=(const CString& other) {
    m_text += other.m_text;
    return *this;
}

CString& CString::operator+=(LPCTSTR text) {
    m_text += FromCString(text);
    return *this;
}

CString& CString::operator+=(TCHAR ch) {
    m_text += ch;
    return *this;
}

CString operator+(const CString& a, const CString& b) {
    CString r(a);
    r += b;
    return r;
}
CString operator+(const CString& a, LPCTSTR b) {
    CString r(a);
    r += b;
    return r;
}
CString operator+(LPCTSTR a, const CString& b) {
    CString r(a);
    r += b;
    return r;
}
CString operator+(const CString& a, TCHAR b) {
    CString r(a);
    r += b;
    return r;
}

int CString::Compare(LPCTSTR text) const {
    return std::strcmp(m_text.c_str(), text ? text : "");
}

int CString::CompareNoCase(LPCTSTR text) const {
    return ::strcasecmp(m_text.c_str(), text ? text : "");
}

CString CString::Left(int count) const {
    count = Clamp(count, 0, GetLength());
    return CString(m_text.c_str(), count);
}

CString CString::Mid(int first) const {
    return Mid(first, GetLength());
}

CString CString::Mid(int first, int count) const {
    first = Clamp(first, 0, GetLength());
    count = Clamp(count, 0, GetLength() - first);
    return CString(m_text.c_str() + first, count);
}

CString CString::Right(int count) const {
    count = Clamp(count, 0, GetLength());
    return CString(m_text.c_str() + GetLength() - count, count);
}

int CString::Find(TCHAR ch) const {
    return Find(ch, 0);
}

int CString::Find(TCHAR ch, int start) const {
    if (start < 0 || start >= GetLength()) return -1;
    size_t pos = m_text.find(ch, static_cast<size_t>(start));
    return pos == std::string::npos ? -1 : static_cast<int>(pos);
}

int CString::Find(LPCTSTR sub) const {
    return Find(sub, 0);
}

int CString::Find(LPCTSTR sub, int start) const {
    if (!sub || start < 0 || start > GetLength()) return -1;
    size_t pos = m_text.find(sub, static_cast<size_t>(start));
    return pos == std::string::npos ? -1 : static_cast<int>(pos);
}

int CString::ReverseFind(TCHAR ch) const {
    size_t pos = m_text.rfind(ch);
    return pos == std::string::npos ? -1 : static_cast<int>(pos);
}

void CString::MakeUpper() {
    for (char& c : m_text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
}

void CString::MakeLower() {
    for (char& c : m_text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

void CString::TrimLeft() {
    size_t i = 0;
    while (i < m_text.size() && std::isspace(static_cast<unsigned char>(m_text[i]))) ++i;
    m_text.erase(0, i);
}

void CString::TrimRight() {
    size_t n = m_text.size();
    while (n > 0 && std::isspace(static_cast<unsigned char>(m_text[n - 1]))) --n;
    m_text.resize(n);
}

int CString::Replace(TCHAR from, TCHAR to) {
    int count = 0;
    for (char& c : m_text) {
        if (c == from) {
            c = to;
            ++count;
        }
    }
    return count;
}

int CString::Replace(LPCTSTR from, LPCTSTR to) {
    if (!from || !*from) return 0;
    const std::string needle(from), replacement(to ? to : "");
    int count = 0;
    for (size_t pos = m_text.find(needle); pos != std::string::npos;
         pos = m_text.find(needle, pos + replacement.size())) {
        m_text.replace(pos, needle.size(), replacement);
        ++count;
    }
    return count;
}

void CString::Format(LPCTSTR format, ...) {
    va_list args;
    va_start(args, format);
    FormatV(format, args);
    va_end(args);
}

void CString::FormatV(LPCTSTR format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    int needed = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (needed < 0) {
        m_text.clear();
        return;
    }
    std::vector<char> buffer(static_cast<size_t>(needed) + 1);
    std::vsnprintf(buffer.data(), buffer.size(), format, args);
    // Formatted text is taken up to its first NUL, as the original copies a C string.
    m_text.assign(buffer.data());
}

LPTSTR CString::GetBuffer(int minLength) {
    if (minLength > GetLength()) m_text.resize(static_cast<size_t>(minLength));
    return &m_text[0];
}

LPTSTR CString::GetBufferSetLength(int length) {
    m_text.resize(static_cast<size_t>(std::max(length, 0)));
    return &m_text[0];
}

void CString::ReleaseBuffer(int newLength) {
    if (newLength < 0) {
        m_text.resize(std::strlen(m_text.c_str()));
    } else {
        m_text.resize(static_cast<size_t>(newLength));
    }
}

bool operator==(const CString& a, const CString& b) {
    return a.Compare(b) == 0;
}
bool operator==(const CString& a, LPCTSTR b) {
    return a.Compare(b) == 0;
}
bool operator==(LPCTSTR a, const CString& b) {
    return b.Compare(a) == 0;
}
bool operator!=(const CString& a, const CString& b) {
    return !(a == b);
}
bool operator!=(const CString& a, LPCTSTR b) {
    return !(a == b);
}
bool operator!=(LPCTSTR a, const CString& b) {
    return !(a == b);
}
bool operator<(const CString& a, const CString& b) {
    return a.Compare(b) < 0;
}
bool operator>(const CString& a, const CString& b) {
    return a.Compare(b) > 0;
}
bool operator<=(const CString& a, const CString& b) {
    return a.Compare(b) <= 0;
}
bool operator>=(const CString& a, const CString& b) {
    return a.Compare(b) >= 0;
}
