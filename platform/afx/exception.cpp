// CException and CFileException.
#include <cstdio>
#include <cstring>

#include "afx.h"

void CException::Delete() {
    if (m_bAutoDelete > 0) delete this;
}

BOOL CException::GetErrorMessage(LPTSTR text, UINT maxLength, UINT* helpContext) {
    if (helpContext != nullptr) *helpContext = 0;
    if (text != nullptr && maxLength > 0) *text = '\0';
    return FALSE;
}

int PASCAL CFileException::OsErrorToException(LONG osError) {
    switch (osError) {
        case NO_ERROR:
            return none;
        case ERROR_FILE_NOT_FOUND:
        case ERROR_INVALID_HANDLE:
        case ERROR_NO_MORE_FILES:
            return fileNotFound;
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME:
        case ERROR_FILENAME_EXCED_RANGE:
        case ERROR_DIRECTORY:
            return badPath;
        case ERROR_TOO_MANY_OPEN_FILES:
            return tooManyOpenFiles;
        case ERROR_ACCESS_DENIED:
        case ERROR_WRITE_PROTECT:
        case ERROR_WRITE_FAULT:
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS:
            return accessDenied;
        case ERROR_INVALID_DATA:
            return invalidFile;
        case ERROR_DIR_NOT_EMPTY:
            return removeCurrentDir;
        case ERROR_SEEK:
        case ERROR_NEGATIVE_SEEK:
        case ERROR_READ_FAULT:
            return badSeek;
        case ERROR_SHARING_VIOLATION:
            return sharingViolation;
        case ERROR_LOCK_VIOLATION:
            return lockViolation;
        case ERROR_HANDLE_DISK_FULL:
        case ERROR_DISK_FULL:
            return diskFull;
        case ERROR_HANDLE_EOF:
            return endOfFile;
        default:
            return generic;
    }
}

void PASCAL CFileException::ThrowOsError(LONG osError, LPCTSTR fileName) {
    AfxThrowFileException(OsErrorToException(osError), osError, fileName);
}

BOOL CFileException::GetErrorMessage(LPTSTR text, UINT maxLength, UINT* helpContext) {
    static const char* const kCauses[] = {
        "No error occurred.",
        "An unspecified error occurred.",
        "The file could not be located.",
        "All or part of the path is invalid.",
        "The permitted number of open files was exceeded.",
        "The file could not be accessed.",
        "There was an attempt to use an invalid file handle.",
        "The current working directory cannot be removed.",
        "There are no more directory entries.",
        "There was an error trying to set the file pointer.",
        "There was a hardware error.",
        "A sharing violation occurred.",
        "There was an attempt to lock a region that was already locked.",
        "The disk is full.",
        "The end of file was reached.",
    };
    if (helpContext != nullptr) *helpContext = 0;
    if (text == nullptr || maxLength == 0) return FALSE;
    const int count = static_cast<int>(sizeof(kCauses) / sizeof(kCauses[0]));
    const char* cause = (m_cause >= 0 && m_cause < count) ? kCauses[m_cause] : kCauses[generic];
    if (m_strFileName.IsEmpty()) {
        std::snprintf(text, maxLength, "%s", cause);
    } else {
        std::snprintf(text, maxLength, "%s (%s)", cause, static_cast<LPCTSTR>(m_strFileName));
    }
    return TRUE;
}

void AfxThrowFileException(int cause, LONG osError, LPCTSTR fileName) {
    throw new CFileException(cause, osError, fileName);
}
