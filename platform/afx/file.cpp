// CFile over POSIX descriptors, with the share modes of the original platform
// (platform/internal/file_share.h).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "afx.h"
#include "internal/file_share.h"
#include "internal/missing_files.h"
#include "platform/path.h"

namespace {

namespace pi = platform::internal;

constexpr UINT kAccessMask = 0x3;
constexpr UINT kShareMask = 0x70;

unsigned AccessOf(UINT mode) {
    switch (mode & kAccessMask) {
        case CFile::modeWrite:
            return pi::kAccessWrite;
        case CFile::modeReadWrite:
            return pi::kAccessRead | pi::kAccessWrite;
        default:
            return pi::kAccessRead;
    }
}

unsigned ShareOf(UINT mode) {
    switch (mode & kShareMask) {
        case CFile::shareDenyWrite:
            return pi::kShareRead;
        case CFile::shareDenyRead:
            return pi::kShareWrite;
        case CFile::shareDenyNone:
            return pi::kShareRead | pi::kShareWrite;
        default:  // shareExclusive, and shareCompat as 32-bit MFC maps it
            return 0;
    }
}

pi::Disposition DispositionOf(UINT mode) {
    if (!(mode & CFile::modeCreate)) return pi::Disposition::OpenExisting;
    return (mode & CFile::modeNoTruncate) ? pi::Disposition::OpenAlways
                                          : pi::Disposition::CreateAlways;
}

[[noreturn]] void ThrowErrno(int err, const CString& fileName) {
    CFileException::ThrowOsError(
        static_cast<LONG>(pi::Win32ErrorFromErrno(err, std::string(fileName))), fileName);
}

void FillStatus(const pi::FileStatus& file, const std::string& fullName, CFileStatus& status) {
    status.m_ctime = CTime(static_cast<time_t>(pi::UnixSecondsFromFileTime(file.creation)));
    status.m_mtime = CTime(static_cast<time_t>(pi::UnixSecondsFromFileTime(file.lastWrite)));
    status.m_atime = CTime(static_cast<time_t>(pi::UnixSecondsFromFileTime(file.lastAccess)));
    status.m_size = file.size > INT32_MAX ? INT32_MAX : static_cast<LONG>(file.size);
    BYTE attribute = CFile::normal;
    if (file.isDirectory) attribute |= CFile::directory;
    if (file.readOnly && !file.isDirectory) attribute |= CFile::readOnly;
    status.m_attribute = attribute;
    const size_t length = std::min(fullName.size(), static_cast<size_t>(MAX_PATH - 1));
    std::memcpy(status.m_szFullName, fullName.c_str(), length);
    status.m_szFullName[length] = '\0';
}

}  // namespace

BOOL CFile::Open(LPCTSTR fileName, UINT openFlags, CFileException* error) {
    if (m_hFile != static_cast<UINT>(hFileNull)) Abort();
    m_bCloseOnDelete = FALSE;

    DWORD osError = ERROR_SUCCESS;
    const pi::Disposition disposition = DispositionOf(openFlags);
    int fd = -1;
    if (disposition == pi::Disposition::OpenExisting && pi::KnownMissing(fileName)) {
        osError = ERROR_FILE_NOT_FOUND;
    } else {
        pi::KnownPath known;
        const std::string posix = pi::ResolvePath(fileName, &known);
        if (disposition == pi::Disposition::OpenExisting && known.kind == pi::EntryKind::Missing) {
            osError = ERROR_FILE_NOT_FOUND;
        } else {
            fd = pi::ShareOpen(posix, AccessOf(openFlags), ShareOf(openFlags), disposition,
                               &osError, &known);
        }
        // A path the memo resolved is watched already, its folder's entries with it.
        if (fd < 0 && osError == ERROR_FILE_NOT_FOUND && known.kind == pi::EntryKind::Unknown)
            pi::NoteMissing(fileName, posix);
    }
    if (fd < 0) {
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
    m_hFile = static_cast<UINT>(fd);
    m_access = openFlags & kAccessMask;
    m_bCloseOnDelete = TRUE;
    return TRUE;
}

DWORD CFile::GetPosition() const {
    ThrowIfClosed();
    const off_t position = lseek(static_cast<int>(m_hFile), 0, SEEK_CUR);
    if (position < 0) ThrowErrno(errno, m_strFileName);
    return static_cast<DWORD>(position);
}

BOOL CFile::GetStatus(CFileStatus& status) const {
    std::memset(status.m_szFullName, 0, sizeof(status.m_szFullName));
    pi::FileStatus file;
    if (m_hFile == static_cast<UINT>(hFileNull) ||
        !pi::GetFileStatus(static_cast<int>(m_hFile), &file, nullptr)) {
        return FALSE;
    }
    FillStatus(file, platform::ToPosixPath(m_strFileName), status);
    return TRUE;
}

BOOL PASCAL CFile::GetStatus(LPCTSTR fileName, CFileStatus& status) {
    const std::string posix = platform::ToPosixPath(fileName);
    pi::FileStatus file;
    if (!pi::GetFileStatus(posix, &file, nullptr)) return FALSE;
    char resolved[PATH_MAX];
    const std::string fullName = realpath(posix.c_str(), resolved) ? resolved : posix;
    if (fullName.size() >= MAX_PATH) return FALSE;
    FillStatus(file, fullName, status);
    return TRUE;
}

LONG CFile::Seek(LONG offset, UINT from) {
    ThrowIfClosed();
    const int whence = from == current ? SEEK_CUR : from == end ? SEEK_END : SEEK_SET;
    const off_t position = lseek(static_cast<int>(m_hFile), offset, whence);
    if (position < 0) {
        if (errno == EINVAL) {
            CFileException::ThrowOsError(ERROR_NEGATIVE_SEEK, m_strFileName);
        }
        ThrowErrno(errno, m_strFileName);
    }
    return static_cast<LONG>(position);
}

void CFile::SetLength(DWORD newLength) {
    ThrowIfClosed();
    if (m_access == modeRead) {
        CFileException::ThrowOsError(ERROR_ACCESS_DENIED, m_strFileName);
    }
    if (ftruncate(static_cast<int>(m_hFile), static_cast<off_t>(newLength)) != 0) {
        ThrowErrno(errno, m_strFileName);
    }
}

DWORD CFile::GetLength() const {
    ThrowIfClosed();
    struct stat st;
    if (fstat(static_cast<int>(m_hFile), &st) != 0) ThrowErrno(errno, m_strFileName);
    return static_cast<DWORD>(st.st_size);
}

UINT CFile::Read(void* buffer, UINT count) {
    ThrowIfClosed();
    if (count == 0) return 0;
    if (m_access == modeWrite) CFileException::ThrowOsError(ERROR_ACCESS_DENIED, m_strFileName);
    auto* bytes = static_cast<char*>(buffer);
    UINT done = 0;
    while (done < count) {
        const ssize_t n = read(static_cast<int>(m_hFile), bytes + done, count - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            ThrowErrno(errno, m_strFileName);
        }
        if (n == 0) break;
        done += static_cast<UINT>(n);
    }
    return done;
}

void CFile::Write(const void* buffer, UINT count) {
    ThrowIfClosed();
    if (count == 0) return;
    if (m_access == modeRead) CFileException::ThrowOsError(ERROR_ACCESS_DENIED, m_strFileName);
    const auto* bytes = static_cast<const char*>(buffer);
    UINT done = 0;
    while (done < count) {
        const ssize_t n = write(static_cast<int>(m_hFile), bytes + done, count - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            ThrowErrno(errno, m_strFileName);
        }
        if (n == 0) CFileException::ThrowOsError(ERROR_DISK_FULL, m_strFileName);
        done += static_cast<UINT>(n);
    }
}

void CFile::Flush() {
    if (m_hFile == static_cast<UINT>(hFileNull)) return;
    if (fsync(static_cast<int>(m_hFile)) != 0 && errno != EINVAL) ThrowErrno(errno, m_strFileName);
}

void CFile::Close() {
    int err = 0;
    if (m_hFile != static_cast<UINT>(hFileNull) && close(static_cast<int>(m_hFile)) != 0) {
        err = errno;
    }
    const CString name = m_strFileName;
    m_hFile = static_cast<UINT>(hFileNull);
    m_bCloseOnDelete = FALSE;
    m_strFileName.Empty();
    if (err != 0 && err != EINTR) ThrowErrno(err, name);
}

void CFile::Abort() {
    if (m_hFile != static_cast<UINT>(hFileNull)) close(static_cast<int>(m_hFile));
    m_hFile = static_cast<UINT>(hFileNull);
    m_bCloseOnDelete = FALSE;
    m_strFileName.Empty();
}

void PASCAL CFile::Rename(LPCTSTR oldName, LPCTSTR newName) {
    const std::string from = platform::ToPosixPath(oldName);
    const std::string to = platform::ToPosixPath(newName);
    struct stat st;
    if (lstat(to.c_str(), &st) == 0) CFileException::ThrowOsError(ERROR_ALREADY_EXISTS, oldName);
    if (rename(from.c_str(), to.c_str()) != 0) ThrowErrno(errno, oldName);
}

void PASCAL CFile::Remove(LPCTSTR fileName) {
    if (!DeleteFileA(fileName))
        CFileException::ThrowOsError(static_cast<LONG>(GetLastError()), fileName);
}
