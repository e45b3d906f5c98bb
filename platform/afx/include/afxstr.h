// CString: MFC's ANSI string. Text is held as bytes in the process's code page;
// an embedded NUL ends the text wherever it is read as a C string.
#pragma once

#include <cstdarg>
#include <string>

#include "afxsys.h"

class CString {
public:
    // Construction
    CString() = default;
    CString(const CString& other) = default;
    CString(CString&& other) noexcept = default;
    CString(LPCTSTR text);  // NOLINT: implicit, as in MFC
    CString(LPCTSTR text, int length);
    CString(TCHAR ch, int repeat = 1);
    CString& operator=(const CString& other) = default;
    CString& operator=(CString&& other) noexcept = default;
    CString& operator=(LPCTSTR text);
    CString& operator=(TCHAR ch);

    // Attributes
    int GetLength() const { return static_cast<int>(m_text.size()); }
    BOOL IsEmpty() const { return m_text.empty(); }
    void Empty() { m_text.clear(); }
    TCHAR GetAt(int index) const { return m_text.at(static_cast<size_t>(index)); }
    void SetAt(int index, TCHAR ch) { m_text.at(static_cast<size_t>(index)) = ch; }
    TCHAR operator[](int index) const { return GetAt(index); }
    operator LPCTSTR() const { return m_text.c_str(); }  // NOLINT: implicit, as in MFC

    // Concatenation
    CString& operator+=(const CString& other);
    CString& operator+=(LPCTSTR text);
    CString& operator+=(TCHAR ch);
    friend CString operator+(const CString& a, const CString& b);
    friend CString operator+(const CString& a, LPCTSTR b);
    friend CString operator+(LPCTSTR a, const CString& b);
    friend CString operator+(const CString& a, TCHAR b);

    // Comparison (byte order, as lstrcmp in the C locale)
    int Compare(LPCTSTR text) const;
    int CompareNoCase(LPCTSTR text) const;

    // Extraction and search
    CString Left(int count) const;
    CString Mid(int first) const;
    CString Mid(int first, int count) const;
    CString Right(int count) const;
    int Find(TCHAR ch) const;
    int Find(TCHAR ch, int start) const;
    int Find(LPCTSTR sub) const;
    int Find(LPCTSTR sub, int start) const;
    int ReverseFind(TCHAR ch) const;

    // Editing
    void MakeUpper();
    void MakeLower();
    void TrimLeft();
    void TrimRight();
    int Replace(TCHAR from, TCHAR to);
    int Replace(LPCTSTR from, LPCTSTR to);

    // printf-style formatting; the previous text is replaced.
    void Format(LPCTSTR format, ...) __attribute__((format(printf, 2, 3)));
    void FormatV(LPCTSTR format, va_list args);

    // Direct buffer access: GetBuffer gives at least minLength + 1 writable bytes;
    // ReleaseBuffer(-1) takes the text up to the first NUL.
    LPTSTR GetBuffer(int minLength = 0);
    LPTSTR GetBufferSetLength(int length);
    void ReleaseBuffer(int newLength = -1);

private:
    std::string m_text;
};

bool operator==(const CString& a, const CString& b);
bool operator==(const CString& a, LPCTSTR b);
bool operator==(LPCTSTR a, const CString& b);
bool operator!=(const CString& a, const CString& b);
bool operator!=(const CString& a, LPCTSTR b);
bool operator!=(LPCTSTR a, const CString& b);
bool operator<(const CString& a, const CString& b);
bool operator>(const CString& a, const CString& b);
bool operator<=(const CString& a, const CString& b);
bool operator>=(const CString& a, const CString& b);
