// Private seam of the files family: opening a file under the original platform's share-mode
// rule, and the conversions every file call shares (errno to Win32 errors, file times).
// Used by the kernel's file, search and profile calls and by MFC's CFile.
#pragma once
#include <sys/stat.h>

#include <string>

#include "windef.h"

namespace platform::internal {

struct KnownPath;  // internal/missing_files.h

// What the opener wants to do with the file (GENERIC_READ / GENERIC_WRITE).
constexpr unsigned kAccessRead = 1;
constexpr unsigned kAccessWrite = 2;
// What the opener lets later opens do (FILE_SHARE_READ / FILE_SHARE_WRITE).
constexpr unsigned kShareRead = 1;
constexpr unsigned kShareWrite = 2;

enum class Disposition {
    OpenExisting,  // fails when missing
    OpenAlways,    // created when missing
    CreateAlways,  // created when missing, emptied otherwise (only once the open is granted)
};

// Opens posixPath under the share-mode rule. Returns a descriptor (close-on-exec; closing it
// ends the open and everything it holds), or -1 with *error set to the Win32 error code
// (ERROR_SHARING_VIOLATION when the rule refuses the open). Only a regular file is opened: a
// directory, pipe, device or socket gives ERROR_ACCESS_DENIED at once, as a directory does on
// the original, without waiting for a pipe's other end; so does a link below a confined folder.
// known, when given, is what the memo knew of the path as it resolved it (ResolvePath): the
// looks it answers are not made again.
int ShareOpen(const std::string& posixPath, unsigned access, unsigned share,
              Disposition disposition, DWORD* error, const KnownPath* known = nullptr);

// open(2), except that a path below a confined folder (platform/confined_opens.h) resolves
// beneath it without following links; *refusedLink tells a failure for a link or a way out.
// With known holding the confined folder open, the open starts from that handle.
int OpenFile(const std::string& posixPath, int flags, mode_t mode, bool* refusedLink,
             const KnownPath* known = nullptr);

// True when any open of this layer holds the file behind fd (fd itself excepted).
bool ShareHeldByOthers(int fd);

// Serialises the check-and-take of share bookkeeping on the file behind fd. Waits a few
// milliseconds at most: false when the guard could not be had, and the caller goes on without.
bool LockShareGuard(int fd);
void UnlockShareGuard(int fd);

// The Win32 error for an errno from a call on posixPath; ENOENT becomes ERROR_PATH_NOT_FOUND
// when the parent directory is missing too.
DWORD Win32ErrorFromErrno(int err, const std::string& posixPath);

// Status of a path (following symbolic links) with the times that the Win32 calls report.
struct FileStatus {
    bool isDirectory = false;
    bool isSymbolicLink = false;  // only from GetEntryStatus, which does not follow links
    bool readOnly = false;        // the owner may not write it
    uint64_t size = 0;
    int64_t creation = 0;  // FILETIME values, UTC: birth time where recorded, else ctime
    int64_t lastWrite = 0;
    int64_t lastAccess = 0;
    uint64_t device = 0;  // with inode, which file this is
    uint64_t inode = 0;
    int64_t lastWriteNanoseconds = 0;  // since 1970, for telling a rewrite within one tick
};
bool GetFileStatus(const std::string& posixPath, FileStatus* status, int* err);
bool GetFileStatus(int fd, FileStatus* status, int* err);
// Status of the entry name of the directory behind directoryFd, a symbolic link's own.
bool GetEntryStatus(int directoryFd, const std::string& name, FileStatus* status, int* err);

// FILE_ATTRIBUTE_* bits for a status.
DWORD AttributesOf(const FileStatus& status);

FILETIME ToFileTime(int64_t value);
int64_t FromFileTime(const FILETIME& time);
// Seconds since 1970 UTC for a FILETIME value (rounded toward minus infinity).
int64_t UnixSecondsFromFileTime(int64_t value);

}  // namespace platform::internal
