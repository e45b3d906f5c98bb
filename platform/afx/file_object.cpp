// What CFile does the same over every system: construction, destruction, the closed-file
// check and the calls made of others. The system's side (file.cpp here, win32/file.cpp on
// Windows) opens, reads, writes, seeks and closes.
#include <algorithm>

#include "afx.h"

CFile::CFile()
    : m_hFile(static_cast<UINT>(hFileNull)), m_bCloseOnDelete(FALSE), m_access(modeRead) {}

CFile::CFile(int hFile)
    : m_hFile(static_cast<UINT>(hFile)), m_bCloseOnDelete(FALSE), m_access(modeReadWrite) {}

CFile::CFile(LPCTSTR fileName, UINT openFlags) : CFile() {
    CFileException error;
    if (!Open(fileName, openFlags, &error)) {
        AfxThrowFileException(error.m_cause, error.m_lOsError, error.m_strFileName);
    }
}

CFile::~CFile() {
    if (m_hFile != static_cast<UINT>(hFileNull) && m_bCloseOnDelete) Abort();
}

void CFile::ThrowIfClosed() const {
    if (m_hFile == static_cast<UINT>(hFileNull)) {
        AfxThrowFileException(CFileException::invalidFile, ERROR_INVALID_HANDLE, m_strFileName);
    }
}

CString CFile::GetFileName() const {
    const int separator = std::max(m_strFileName.ReverseFind('\\'), m_strFileName.ReverseFind('/'));
    return m_strFileName.Mid(separator + 1);
}

DWORD CFile::SeekToEnd() {
    return static_cast<DWORD>(Seek(0, end));
}

void CFile::SeekToBegin() {
    Seek(0, begin);
}
