// CFileFind over FindFirstFileA / FindNextFileA.
#include <cstring>

#include "afx.h"
#include "internal/file_share.h"

CFileFind::CFileFind()
    : m_pFoundInfo(nullptr), m_pNextInfo(nullptr), m_hContext(nullptr), m_bGotLast(FALSE) {}

CFileFind::~CFileFind() {
    Close();
}

void CFileFind::Close() {
    delete m_pFoundInfo;
    delete m_pNextInfo;
    m_pFoundInfo = nullptr;
    m_pNextInfo = nullptr;
    if (m_hContext != nullptr && m_hContext != INVALID_HANDLE_VALUE) ::FindClose(m_hContext);
    m_hContext = nullptr;
    m_bGotLast = FALSE;
    m_strRoot.Empty();
}

BOOL CFileFind::FindFile(LPCTSTR name, DWORD /*unused*/) {
    Close();
    if (name == nullptr) name = "*.*";
    m_pNextInfo = new WIN32_FIND_DATAA;
    m_hContext = ::FindFirstFileA(name, m_pNextInfo);
    if (m_hContext == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        m_hContext = nullptr;
        Close();
        SetLastError(error);
        return FALSE;
    }
    const CString pattern = name;
    const int separator = std::max(pattern.ReverseFind('\\'), pattern.ReverseFind('/'));
    m_strRoot = pattern.Left(separator + 1);
    return TRUE;
}

BOOL CFileFind::FindNextFile() {
    if (m_hContext == nullptr || m_bGotLast) return FALSE;
    if (m_pFoundInfo == nullptr) m_pFoundInfo = new WIN32_FIND_DATAA;
    std::swap(m_pFoundInfo, m_pNextInfo);
    if (!::FindNextFileA(m_hContext, m_pNextInfo)) {
        m_bGotLast = TRUE;
        return FALSE;
    }
    return TRUE;
}

DWORD CFileFind::GetLength() const {
    return m_pFoundInfo != nullptr ? m_pFoundInfo->nFileSizeLow : 0;
}

CString CFileFind::GetFileName() const {
    return m_pFoundInfo != nullptr ? CString(m_pFoundInfo->cFileName) : CString();
}

CString CFileFind::GetFilePath() const {
    return m_strRoot + GetFileName();
}

CString CFileFind::GetFileTitle() const {
    const CString name = GetFileName();
    const int dot = name.ReverseFind('.');
    return dot < 0 ? name : name.Left(dot);
}

CString CFileFind::GetRoot() const {
    return m_strRoot;
}

BOOL CFileFind::GetCreationTime(FILETIME* time) const {
    if (m_pFoundInfo == nullptr || time == nullptr) return FALSE;
    *time = m_pFoundInfo->ftCreationTime;
    return TRUE;
}

BOOL CFileFind::GetCreationTime(CTime& time) const {
    if (m_pFoundInfo == nullptr) return FALSE;
    time = CTime(m_pFoundInfo->ftCreationTime);
    return TRUE;
}

BOOL CFileFind::GetLastWriteTime(FILETIME* time) const {
    if (m_pFoundInfo == nullptr || time == nullptr) return FALSE;
    *time = m_pFoundInfo->ftLastWriteTime;
    return TRUE;
}

BOOL CFileFind::GetLastWriteTime(CTime& time) const {
    if (m_pFoundInfo == nullptr) return FALSE;
    time = CTime(m_pFoundInfo->ftLastWriteTime);
    return TRUE;
}

BOOL CFileFind::GetLastAccessTime(FILETIME* time) const {
    if (m_pFoundInfo == nullptr || time == nullptr) return FALSE;
    *time = m_pFoundInfo->ftLastAccessTime;
    return TRUE;
}

BOOL CFileFind::GetLastAccessTime(CTime& time) const {
    if (m_pFoundInfo == nullptr) return FALSE;
    time = CTime(m_pFoundInfo->ftLastAccessTime);
    return TRUE;
}

BOOL CFileFind::MatchesMask(DWORD mask) const {
    return m_pFoundInfo != nullptr && (m_pFoundInfo->dwFileAttributes & mask) != 0;
}

BOOL CFileFind::IsDots() const {
    if (m_pFoundInfo == nullptr || !IsDirectory()) return FALSE;
    return std::strcmp(m_pFoundInfo->cFileName, ".") == 0 ||
           std::strcmp(m_pFoundInfo->cFileName, "..") == 0;
}
