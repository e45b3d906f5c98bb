// Directories, attributes and deletion.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "internal/file_share.h"
#include "internal/missing_files.h"
#include "platform/path.h"
#include "winbase.h"

using platform::ToPosixPath;
using platform::internal::Win32ErrorFromErrno;

namespace {

BOOL FailWith(DWORD error) {
    SetLastError(error);
    return FALSE;
}

// mkdir and rmdir take no notice of a trailing separator; the lookups around them do.
std::string WithoutTrailingSlash(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

}  // namespace

DWORD GetFileAttributesA(LPCSTR path) {
    const std::string posix = WithoutTrailingSlash(ToPosixPath(path));
    platform::internal::FileStatus status;
    int err = 0;
    if (!platform::internal::GetFileStatus(posix, &status, &err)) {
        SetLastError(Win32ErrorFromErrno(err, posix));
        return INVALID_FILE_ATTRIBUTES;
    }
    return platform::internal::AttributesOf(status);
}

BOOL GetFileAttributesExA(LPCSTR path, GET_FILEEX_INFO_LEVELS level, LPVOID information) {
    if (path == nullptr || information == nullptr || level != GetFileExInfoStandard)
        return FailWith(ERROR_INVALID_PARAMETER);
    // A name the memo knows to be missing is not looked for: the letter-case search of its
    // folder would wait for the folder's lock behind anyone creating a file in it.
    if (platform::internal::KnownMissing(path)) return FailWith(ERROR_FILE_NOT_FOUND);
    const std::string posix = WithoutTrailingSlash(ToPosixPath(path));
    platform::internal::FileStatus status;
    int err = 0;
    if (!platform::internal::GetFileStatus(posix, &status, &err))
        return FailWith(Win32ErrorFromErrno(err, posix));
    auto* data = static_cast<WIN32_FILE_ATTRIBUTE_DATA*>(information);
    data->dwFileAttributes = platform::internal::AttributesOf(status);
    data->ftCreationTime = platform::internal::ToFileTime(status.creation);
    data->ftLastAccessTime = platform::internal::ToFileTime(status.lastAccess);
    data->ftLastWriteTime = platform::internal::ToFileTime(status.lastWrite);
    data->nFileSizeHigh = static_cast<DWORD>(status.size >> 32);
    data->nFileSizeLow = static_cast<DWORD>(status.size & 0xFFFFFFFFu);
    return TRUE;
}

BOOL CreateDirectoryA(LPCSTR path, LPSECURITY_ATTRIBUTES /*attributes*/) {
    const std::string posix = WithoutTrailingSlash(ToPosixPath(path));
    if (posix.empty()) return FailWith(ERROR_PATH_NOT_FOUND);
    if (mkdir(posix.c_str(), 0777) != 0) return FailWith(Win32ErrorFromErrno(errno, posix));
    return TRUE;
}

BOOL RemoveDirectoryA(LPCSTR path) {
    const std::string posix = WithoutTrailingSlash(ToPosixPath(path));
    if (posix.empty()) return FailWith(ERROR_PATH_NOT_FOUND);
    struct stat st;
    if (lstat(posix.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) return FailWith(ERROR_DIRECTORY);
    if (rmdir(posix.c_str()) != 0) return FailWith(Win32ErrorFromErrno(errno, posix));
    return TRUE;
}

BOOL DeleteFileA(LPCSTR path) {
    const std::string posix = ToPosixPath(path);
    struct stat st;
    if (posix.empty() || lstat(posix.c_str(), &st) != 0) {
        return FailWith(Win32ErrorFromErrno(posix.empty() ? ENOENT : errno, posix));
    }
    if (S_ISDIR(st.st_mode)) return FailWith(ERROR_ACCESS_DENIED);
    if (S_ISLNK(st.st_mode)) {  // the link itself goes; nothing holds a link open
        if (unlink(posix.c_str()) != 0) return FailWith(Win32ErrorFromErrno(errno, posix));
        return TRUE;
    }
    if (!(st.st_mode & S_IWUSR)) return FailWith(ERROR_ACCESS_DENIED);

    // No open grants delete sharing, so any open of the file refuses the deletion. The guard
    // keeps an open from slipping in between the test and the unlink. Without an open of its
    // own the holders cannot be looked for, and the deletion is refused with what stopped it;
    // only a file this user may not read cannot be held by any open of this layer.
    const int fd = open(posix.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0 && errno != EACCES) return FailWith(Win32ErrorFromErrno(errno, posix));
    if (fd >= 0) platform::internal::LockShareGuard(fd);  // without it, the test still runs
    BOOL result = TRUE;
    if (fd >= 0 && platform::internal::ShareHeldByOthers(fd)) {
        SetLastError(ERROR_SHARING_VIOLATION);
        result = FALSE;
    } else if (unlink(posix.c_str()) != 0) {
        SetLastError(Win32ErrorFromErrno(errno, posix));
        result = FALSE;
    }
    if (fd >= 0) close(fd);  // also drops the guard
    return result;
}
