// File-system calls the tests make of POSIX where Windows has another or none: the last write
// time, a named pipe, a symbolic link, a lock held on a file. Built for Windows, the last write
// time is the system's; the others report that they could not be made, and the rows that need
// them say so (sides.h).
#pragma once

#include <string>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace portrix_test {

// Sets the last write (and last access) time of path to unixSeconds.
inline bool SetLastWriteTime(const std::string& path, long long unixSeconds) {
#ifdef _WIN32
    HANDLE file = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    ULARGE_INTEGER value;
    value.QuadPart = static_cast<ULONGLONG>(unixSeconds * 10'000'000LL + 116444736000000000LL);
    const FILETIME time = {value.LowPart, value.HighPart};
    const bool ok = SetFileTime(file, nullptr, &time, &time);
    CloseHandle(file);
    return ok;
#else
    const time_t t = static_cast<time_t>(unixSeconds);
    const struct timespec times[2] = {{t, 0}, {t, 0}};
    return utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
#endif
}

inline bool MakeNamedPipe(const std::string& path) {
#ifdef _WIN32
    (void)path;
    return false;
#else
    return mkfifo(path.c_str(), 0666) == 0;
#endif
}

inline bool MakeSymbolicLink(const std::string& target, const std::string& path) {
#ifdef _WIN32
    (void)target;
    (void)path;
    return false;
#else
    return symlink(target.c_str(), path.c_str()) == 0;
#endif
}

// An exclusive flock() on a file, as a writer of the layer's temporaries holds it; released when
// the object goes.
class HeldFile {
public:
    explicit HeldFile(const std::string& path) {
#ifndef _WIN32
        m_fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (m_fd >= 0 && flock(m_fd, LOCK_EX) != 0) {
            close(m_fd);
            m_fd = -1;
        }
#else
        (void)path;
#endif
    }
    ~HeldFile() {
#ifndef _WIN32
        if (m_fd >= 0) close(m_fd);
#endif
    }
    HeldFile(const HeldFile&) = delete;
    HeldFile& operator=(const HeldFile&) = delete;
    bool held() const {
        return m_fd >= 0;
    }

private:
    int m_fd = -1;
};

}  // namespace portrix_test
