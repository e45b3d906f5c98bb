// CFile over the system's file handles (CreateFileA, ReadFile, WriteFile, GetFileTime), for the
// Windows build of the MFC subset. The share modes are the system's own.
#include <algorithm>
#include <climits>
#include <cstring>

#include "afx.h"
#include "confined.h"

namespace {

constexpr UINT kAccessMask = 0x3;
constexpr UINT kShareMask = 0x70;

// m_hFile keeps the handle in 32 bits, as MFC 4.2 declares it; the system's handles are
// guaranteed to keep their value when cut to 32 bits and widened again with their sign.
HANDLE HandleOf(UINT file) {
    return reinterpret_cast<HANDLE>(static_cast<INT_PTR>(static_cast<int>(file)));
}

UINT FileOf(HANDLE handle) {
    return static_cast<UINT>(reinterpret_cast<UINT_PTR>(handle));
}

DWORD AccessOf(UINT mode) {
    switch (mode & kAccessMask) {
        case CFile::modeWrite:
            return GENERIC_WRITE;
        case CFile::modeReadWrite:
            return GENERIC_READ | GENERIC_WRITE;
        default:
            return GENERIC_READ;
    }
}

DWORD ShareOf(UINT mode) {
    switch (mode & kShareMask) {
        case CFile::shareDenyWrite:
            return FILE_SHARE_READ;
        case CFile::shareDenyRead:
            return FILE_SHARE_WRITE;
        case CFile::shareDenyNone:
            return FILE_SHARE_READ | FILE_SHARE_WRITE;
        default:  // shareExclusive, and shareCompat as 32-bit MFC maps it
            return 0;
    }
}

DWORD DispositionOf(UINT mode) {
    if (!(mode & CFile::modeCreate)) return OPEN_EXISTING;
    return (mode & CFile::modeNoTruncate) ? OPEN_ALWAYS : CREATE_ALWAYS;
}

[[noreturn]] void ThrowLastError(const CString& fileName) {
    CFileException::ThrowOsError(static_cast<LONG>(GetLastError()), fileName);
}

CTime TimeOf(const FILETIME& utc) {
    return (utc.dwLowDateTime == 0 && utc.dwHighDateTime == 0) ? CTime() : CTime(utc);
}

void FillStatus(const FILETIME& creation, const FILETIME& lastWrite, const FILETIME& lastAccess,
                DWORD sizeHigh, DWORD sizeLow, DWORD attributes, const char* fullName,
                CFileStatus& status) {
    status.m_ctime = TimeOf(creation);
    status.m_mtime = TimeOf(lastWrite);
    status.m_atime = TimeOf(lastAccess);
    status.m_size = (sizeHigh != 0 || sizeLow > INT32_MAX) ? INT32_MAX : static_cast<LONG>(sizeLow);
    status.m_attribute = static_cast<BYTE>(attributes & 0x3f);
    const size_t length = std::min(std::strlen(fullName), static_cast<size_t>(MAX_PATH - 1));
    std::memcpy(status.m_szFullName, fullName, length);
    status.m_szFullName[length] = '\0';
}

}  // namespace

BOOL CFile::Open(LPCTSTR fileName, UINT openFlags, CFileException* error) {
    if (m_hFile != static_cast<UINT>(hFileNull)) Abort();
    m_bCloseOnDelete = FALSE;

    SECURITY_ATTRIBUTES security = {sizeof(security), nullptr, FALSE};  // never inherited
    const bool confined = platform::win32::IsConfined(fileName);
    // Below a confined folder the open lands on a link itself, which is then refused.
    const DWORD flags =
        FILE_ATTRIBUTE_NORMAL | (confined ? FILE_FLAG_OPEN_REPARSE_POINT : DWORD{0});
    HANDLE handle = CreateFileA(fileName, AccessOf(openFlags), ShareOf(openFlags), &security,
                                DispositionOf(openFlags), flags, nullptr);
    DWORD osError = handle == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS;
    if (handle != INVALID_HANDLE_VALUE && confined) {
        BY_HANDLE_FILE_INFORMATION information;
        if (!GetFileInformationByHandle(handle, &information) ||
            (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
            CloseHandle(handle);
            handle = INVALID_HANDLE_VALUE;
            osError = ERROR_ACCESS_DENIED;
        }
    }
    if (handle == INVALID_HANDLE_VALUE) {
        SetLastError(osError);
        if (error != nullptr) {
            error->m_lOsError = static_cast<LONG>(osError);
            error->m_cause = CFileException::OsErrorToException(static_cast<LONG>(osError));
            error->m_strFileName = fileName;
        }
        m_strFileName.Empty();  // last: fileName may be its text
        return FALSE;
    }
    m_strFileName = fileName;
    m_hFile = FileOf(handle);
    m_access = openFlags & kAccessMask;
    m_bCloseOnDelete = TRUE;
    return TRUE;
}

DWORD CFile::GetPosition() const {
    ThrowIfClosed();
    const DWORD position = SetFilePointer(HandleOf(m_hFile), 0, nullptr, FILE_CURRENT);
    if (position == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR) {
        ThrowLastError(m_strFileName);
    }
    return position;
}

BOOL CFile::GetStatus(CFileStatus& status) const {
    std::memset(status.m_szFullName, 0, sizeof(status.m_szFullName));
    BY_HANDLE_FILE_INFORMATION information;
    if (m_hFile == static_cast<UINT>(hFileNull) ||
        !GetFileInformationByHandle(HandleOf(m_hFile), &information)) {
        return FALSE;
    }
    char fullName[MAX_PATH] = {};
    if (GetFullPathNameA(m_strFileName, MAX_PATH, fullName, nullptr) >= MAX_PATH) fullName[0] = 0;
    FillStatus(information.ftCreationTime, information.ftLastWriteTime,
               information.ftLastAccessTime, information.nFileSizeHigh, information.nFileSizeLow,
               information.dwFileAttributes, fullName, status);
    return TRUE;
}

BOOL PASCAL CFile::GetStatus(LPCTSTR fileName, CFileStatus& status) {
    char fullName[MAX_PATH];
    const DWORD length = GetFullPathNameA(fileName, MAX_PATH, fullName, nullptr);
    if (length == 0 || length >= MAX_PATH) return FALSE;
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(fullName, GetFileExInfoStandard, &data)) return FALSE;
    FillStatus(data.ftCreationTime, data.ftLastWriteTime, data.ftLastAccessTime, data.nFileSizeHigh,
               data.nFileSizeLow, data.dwFileAttributes, fullName, status);
    return TRUE;
}

LONG CFile::Seek(LONG offset, UINT from) {
    ThrowIfClosed();
    const DWORD method = from == current ? FILE_CURRENT : from == end ? FILE_END : FILE_BEGIN;
    const DWORD position = SetFilePointer(HandleOf(m_hFile), offset, nullptr, method);
    if (position == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR) {
        ThrowLastError(m_strFileName);
    }
    return static_cast<LONG>(position);
}

void CFile::SetLength(DWORD newLength) {
    ThrowIfClosed();
    Seek(static_cast<LONG>(newLength), begin);
    if (!SetEndOfFile(HandleOf(m_hFile))) ThrowLastError(m_strFileName);
}

DWORD CFile::GetLength() const {
    ThrowIfClosed();
    DWORD high = 0;
    const DWORD low = GetFileSize(HandleOf(m_hFile), &high);
    if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) ThrowLastError(m_strFileName);
    return low;
}

UINT CFile::Read(void* buffer, UINT count) {
    ThrowIfClosed();
    if (count == 0) return 0;
    DWORD done = 0;
    if (!ReadFile(HandleOf(m_hFile), buffer, count, &done, nullptr)) {
        ThrowLastError(m_strFileName);
    }
    return done;
}

void CFile::Write(const void* buffer, UINT count) {
    ThrowIfClosed();
    if (count == 0) return;
    DWORD done = 0;
    if (!WriteFile(HandleOf(m_hFile), buffer, count, &done, nullptr)) {
        ThrowLastError(m_strFileName);
    }
    if (done < count) CFileException::ThrowOsError(ERROR_DISK_FULL, m_strFileName);
}

void CFile::Flush() {
    if (m_hFile == static_cast<UINT>(hFileNull)) return;
    if (!FlushFileBuffers(HandleOf(m_hFile)) && GetLastError() != ERROR_ACCESS_DENIED) {
        ThrowLastError(m_strFileName);  // a handle opened for reading cannot be flushed
    }
}

void CFile::Close() {
    DWORD error = ERROR_SUCCESS;
    if (m_hFile != static_cast<UINT>(hFileNull) && !CloseHandle(HandleOf(m_hFile))) {
        error = GetLastError();
    }
    const CString name = m_strFileName;
    m_hFile = static_cast<UINT>(hFileNull);
    m_bCloseOnDelete = FALSE;
    m_strFileName.Empty();
    if (error != ERROR_SUCCESS) CFileException::ThrowOsError(static_cast<LONG>(error), name);
}

void CFile::Abort() {
    if (m_hFile != static_cast<UINT>(hFileNull)) CloseHandle(HandleOf(m_hFile));
    m_hFile = static_cast<UINT>(hFileNull);
    m_bCloseOnDelete = FALSE;
    m_strFileName.Empty();
}

void PASCAL CFile::Rename(LPCTSTR oldName, LPCTSTR newName) {
    if (!MoveFileA(oldName, newName)) ThrowLastError(oldName);
}

void PASCAL CFile::Remove(LPCTSTR fileName) {
    if (!DeleteFileA(fileName)) ThrowLastError(fileName);
}
