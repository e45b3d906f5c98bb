// MFC core: CException, CFileException, CFile, CFileStatus, CFileFind.
//
// As in MFC 4.2, failures of CFile's operations (other than Open) are thrown as a
// CFileException* allocated with new; the catcher releases it with Delete().
#pragma once
#include "afxsys.h"
#include "windows.h"
#include "afxstr.h"
#include "afxtime.h"

#ifndef PASCAL
#define PASCAL
#endif

// ---- Exceptions ------------------------------------------------------------------------------
class CException {
public:
    explicit CException(BOOL autoDelete = TRUE) : m_bAutoDelete(autoDelete) {}
    virtual ~CException() = default;
    CException(const CException&) = delete;
    CException& operator=(const CException&) = delete;

    // Deletes the exception when it was allocated to be thrown (the usual case).
    void Delete();
    // Fills text with a description of the error; FALSE when there is none.
    virtual BOOL GetErrorMessage(LPTSTR text, UINT maxLength, UINT* helpContext = nullptr);

    BOOL m_bAutoDelete;
};

class CFileException : public CException {
public:
    enum {
        none,
        generic,
        fileNotFound,
        badPath,
        tooManyOpenFiles,
        accessDenied,
        invalidFile,
        removeCurrentDir,
        directoryFull,
        badSeek,
        hardIO,
        sharingViolation,
        lockViolation,
        diskFull,
        endOfFile
    };

    explicit CFileException(int cause = none, LONG osError = -1, LPCTSTR fileName = nullptr)
        : m_cause(cause), m_lOsError(osError), m_strFileName(fileName) {}

    BOOL GetErrorMessage(LPTSTR text, UINT maxLength, UINT* helpContext = nullptr) override;

    // The cause for a Win32 error code (ERROR_FILE_NOT_FOUND gives fileNotFound, ...).
    static int PASCAL OsErrorToException(LONG osError);
    [[noreturn]] static void PASCAL ThrowOsError(LONG osError, LPCTSTR fileName = nullptr);

    int m_cause;
    LONG m_lOsError;
    CString m_strFileName;
};

[[noreturn]] void AfxThrowFileException(int cause, LONG osError = -1, LPCTSTR fileName = nullptr);

// ---- Files -----------------------------------------------------------------------------------
struct CFileStatus {
    CTime m_ctime;         // creation (birth) time, else the last status change
    CTime m_mtime;         // last write
    CTime m_atime;         // last access
    LONG m_size = 0;       // bytes
    BYTE m_attribute = 0;  // CFile::Attribute bits
    BYTE _m_padding = 0;
    TCHAR m_szFullName[MAX_PATH] = {};  // the POSIX path the file was found at
};

// Share modes follow the original platform's rule between any two opens, in one process or in
// two: an open fails with ERROR_SHARING_VIOLATION when its access is denied by the share mode
// of an open already held, or when its own share mode denies an access already held.
// shareCompat counts as shareExclusive, as in 32-bit MFC. Handles are never inherited by
// programs this process starts (modeNoInherit is always in effect).
class CFile {
public:
    enum OpenFlags {
        modeRead = 0x0000,
        modeWrite = 0x0001,
        modeReadWrite = 0x0002,
        shareCompat = 0x0000,
        shareExclusive = 0x0010,
        shareDenyWrite = 0x0020,
        shareDenyRead = 0x0030,
        shareDenyNone = 0x0040,
        modeNoInherit = 0x0080,
        modeCreate = 0x1000,
        modeNoTruncate = 0x2000,
        typeText = 0x4000,
        typeBinary = static_cast<int>(0x8000)
    };
    enum Attribute {
        normal = 0x00,
        readOnly = 0x01,
        hidden = 0x02,
        system = 0x04,
        volume = 0x08,
        directory = 0x10,
        archive = 0x20
    };
    enum SeekPosition { begin = 0x0, current = 0x1, end = 0x2 };
    enum { hFileNull = -1 };

    // Construction
    CFile();
    explicit CFile(int hFile);  // adopts an open POSIX descriptor, without share bookkeeping
    // Opens at once and throws a CFileException* on failure.
    CFile(LPCTSTR fileName, UINT openFlags);
    virtual ~CFile();  // closes the file, ignoring errors
    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;

    // FALSE on failure, filling *error (when given) with the cause, the Win32 error and the name.
    virtual BOOL Open(LPCTSTR fileName, UINT openFlags, CFileException* error = nullptr);

    // Attributes
    virtual DWORD GetPosition() const;
    BOOL GetStatus(CFileStatus& status) const;
    static BOOL PASCAL GetStatus(LPCTSTR fileName, CFileStatus& status);
    virtual CString GetFileName() const;
    virtual CString GetFilePath() const { return m_strFileName; }

    // Operations (each throws a CFileException* on failure)
    virtual LONG Seek(LONG offset, UINT from);
    DWORD SeekToEnd();
    void SeekToBegin();
    virtual void SetLength(DWORD newLength);
    virtual DWORD GetLength() const;
    virtual UINT Read(void* buffer, UINT count);  // bytes read; 0 at the end of the file
    virtual void Write(const void* buffer, UINT count);
    virtual void Flush();
    virtual void Close();
    virtual void Abort();  // closes without throwing

    static void PASCAL Rename(LPCTSTR oldName, LPCTSTR newName);
    static void PASCAL Remove(LPCTSTR fileName);

    // The open POSIX descriptor, or hFileNull.
    UINT m_hFile;
    BOOL m_bCloseOnDelete;
    CString m_strFileName;

private:
    void ThrowIfClosed() const;
    UINT m_access;  // modeRead, modeWrite or modeReadWrite of the open
};

// ---- Directory search ------------------------------------------------------------------------
// MFC style: FindFile begins the search; FindNextFile must be called before each entry is read
// and returns FALSE when the entry it has just made current is the last one.
class CFileFind {
public:
    CFileFind();
    virtual ~CFileFind();
    CFileFind(const CFileFind&) = delete;
    CFileFind& operator=(const CFileFind&) = delete;

    // With no name, "*.*" in the current directory. TRUE when at least one entry matches.
    virtual BOOL FindFile(LPCTSTR name = nullptr, DWORD unused = 0);
    virtual BOOL FindNextFile();
    void Close();

    // The current entry
    DWORD GetLength() const;
    virtual CString GetFileName() const;
    virtual CString GetFilePath() const;   // the searched directory as given, then the name
    virtual CString GetFileTitle() const;  // the name without its extension
    virtual CString GetRoot() const;       // the searched directory as given, with a separator
    BOOL GetCreationTime(FILETIME* time) const;  // UTC
    BOOL GetCreationTime(CTime& time) const;
    BOOL GetLastWriteTime(FILETIME* time) const;  // UTC
    BOOL GetLastWriteTime(CTime& time) const;
    BOOL GetLastAccessTime(FILETIME* time) const;  // UTC
    BOOL GetLastAccessTime(CTime& time) const;
    BOOL MatchesMask(DWORD mask) const;  // any of the FILE_ATTRIBUTE_* bits set
    BOOL IsDots() const;
    BOOL IsDirectory() const { return MatchesMask(FILE_ATTRIBUTE_DIRECTORY); }
    BOOL IsReadOnly() const { return MatchesMask(FILE_ATTRIBUTE_READONLY); }

private:
    WIN32_FIND_DATAA* m_pFoundInfo;
    WIN32_FIND_DATAA* m_pNextInfo;
    HANDLE m_hContext;
    BOOL m_bGotLast;  // FindNextFile has reached the last entry
    CString m_strRoot;
};
