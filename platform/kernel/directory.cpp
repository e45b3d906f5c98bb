// Directories held open by descriptor: entries found and deleted relative to it (openat,
// unlinkat), symbolic links never followed below it.
#include "platform/directory.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

#include "internal/file_share.h"
#include "platform/path.h"
#include "winbase.h"

namespace platform {
namespace {

BOOL FailWith(DWORD error) {
    SetLastError(error);
    return FALSE;
}

DWORD ErrorOf(int err) {
    return err == ENOENT ? ERROR_FILE_NOT_FOUND : internal::Win32ErrorFromErrno(err, std::string());
}

// One plain name: no separator, not "." or "..".
bool IsEntryName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

// Calls visit(name) for each entry of the directory behind fd, "." and ".." left out.
template <typename Visit>
void ForEachName(int fd, Visit visit) {
    const int copy = fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (copy < 0) return;
    std::unique_ptr<DIR, int (*)(DIR*)> dir(fdopendir(copy), closedir);
    if (!dir) {
        close(copy);
        return;
    }
    rewinddir(dir.get());  // the copy shares its position with the descriptor
    while (const dirent* entry = readdir(dir.get())) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") visit(name);
    }
}

// Whether the entry name of the directory behind directoryFd (open as fd, or -1 for a link or
// an unreadable file) is the file listed, unchanged.
bool StillListed(int directoryFd, int fd, const std::string& name, const DirectoryEntry& listed) {
    internal::FileStatus now;
    const bool known = fd >= 0 ? internal::GetFileStatus(fd, &now, nullptr)
                               : internal::GetEntryStatus(directoryFd, name, &now, nullptr);
    return known && now.device == listed.device && now.inode == listed.inode &&
           now.lastWriteNanoseconds == listed.lastWriteNanoseconds;
}

}  // namespace

Directory::Directory(LPCSTR path) {
    std::string posix = ToPosixPath(path);
    while (posix.size() > 1 && posix.back() == '/') posix.pop_back();
    if (!posix.empty()) m_fd = open(posix.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

Directory::Directory(const Directory& parent, const std::string& name) {
    if (!parent.IsOpen() || !IsEntryName(name)) return;
    constexpr int kFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    m_fd = openat(parent.m_fd, name.c_str(), kFlags);
    if (m_fd >= 0 || errno != ENOENT) return;
    // As paths resolve: the entry whose name matches without regard to case, the smallest in
    // byte order when several do.
    std::string match;
    ForEachName(parent.m_fd, [&](const std::string& candidate) {
        if (NamesEqualNoCase(candidate, name) && (match.empty() || candidate < match))
            match = candidate;
    });
    if (!match.empty()) m_fd = openat(parent.m_fd, match.c_str(), kFlags);
}

Directory::~Directory() {
    if (m_fd >= 0) close(m_fd);
}

Directory::Directory(Directory&& other) noexcept : m_fd(other.m_fd) {
    other.m_fd = -1;
}

Directory& Directory::operator=(Directory&& other) noexcept {
    if (this != &other) {
        if (m_fd >= 0) close(m_fd);
        m_fd = other.m_fd;
        other.m_fd = -1;
    }
    return *this;
}

std::vector<DirectoryEntry> Directory::Find(const std::string& pattern) const {
    std::vector<DirectoryEntry> entries;
    if (!IsOpen()) return entries;
    ForEachName(m_fd, [&](const std::string& name) {
        if (!MatchesWildcard(name, pattern)) return;
        internal::FileStatus status;
        if (!internal::GetEntryStatus(m_fd, name, &status, nullptr)) return;
        entries.push_back({name, internal::ToFileTime(status.creation), status.isDirectory,
                           status.isSymbolicLink, status.device, status.inode,
                           status.lastWriteNanoseconds});
    });
    return entries;
}

BOOL Directory::DeleteEntry(const std::string& name) const {
    return DeleteUnchanged(name, nullptr);
}

BOOL Directory::DeleteEntry(const DirectoryEntry& listed) const {
    return DeleteUnchanged(listed.name, &listed);
}

// The test is made on the file opened (or, for a link, the entry) under the share guard just
// before the unlink by name; a rename over the name within those few system calls would still
// lose its file, where a listing and its deletions lie seconds apart in a large folder.
BOOL Directory::DeleteUnchanged(const std::string& name, const DirectoryEntry* listed) const {
    if (!IsOpen()) return FailWith(ERROR_INVALID_HANDLE);
    if (!IsEntryName(name)) return FailWith(ERROR_INVALID_NAME);
    // O_NOFOLLOW: a symbolic link is not opened but refused with ELOOP; it goes by itself.
    const int fd =
        openat(m_fd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0 && errno != ELOOP) {
        // A file this user may not read: no open can hold it, only its kind and mode count.
        internal::FileStatus status;
        int err = errno;
        if (err != EACCES || !internal::GetEntryStatus(m_fd, name, &status, &err))
            return FailWith(ErrorOf(err));
        if (status.isDirectory || status.readOnly) return FailWith(ERROR_ACCESS_DENIED);
    }
    if (fd >= 0) {
        struct stat st;
        if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode) || !(st.st_mode & S_IWUSR)) {
            close(fd);
            return FailWith(ERROR_ACCESS_DENIED);
        }
        // No open grants delete sharing: any open of the file refuses the deletion. The guard
        // keeps an open from slipping in between the test and the unlink.
        internal::LockShareGuard(fd);
        if (internal::ShareHeldByOthers(fd)) {
            close(fd);
            return FailWith(ERROR_SHARING_VIOLATION);
        }
    }
    if (listed != nullptr && !StillListed(m_fd, fd, name, *listed)) {
        if (fd >= 0) close(fd);
        return FailWith(ERROR_FILE_NOT_FOUND);
    }
    const bool deleted = unlinkat(m_fd, name.c_str(), 0) == 0;
    const int err = errno;
    if (fd >= 0) close(fd);  // also drops the guard
    return deleted ? TRUE : FailWith(ErrorOf(err));
}

}  // namespace platform
