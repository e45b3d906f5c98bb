// The hive's file: where it is, reading it within the size limit, and replacing it whole.
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "internal/fd_io.h"
#include "internal/file_share.h"
#include "internal/write_temporary.h"
#include "platform/registry_hive.h"
#include "registry/hive.h"
#include "winbase.h"
#include "winreg.h"

namespace platform::registry {
namespace {

constexpr char kHiveBelowConfig[] = "/portrix/hkcu.reg";
constexpr mode_t kNewHiveMode = 0644;
// A writer holds the lock for one load, change and save of at most the size limit: waiting
// up to 2 s covers a queue of them, and a stopped holder does not stop this one for good.
constexpr int kLockAttempts = 2000;
constexpr long kLockPauseNanoseconds = 1000000;  // 1 ms

// The hive's folder ("" when the path has none).
std::string FolderOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos || slash == 0 ? std::string() : path.substr(0, slash);
}

std::string NonEmptyVariable(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

bool MakeDirectories(const std::string& path) {
    for (size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
        mkdir(path.substr(0, slash).c_str(), 0777);
    }
    struct stat st;
    return mkdir(path.c_str(), 0777) == 0 || (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode));
}

std::string MegabytesText(size_t bytes) {
    return std::to_string(bytes >> 20) + " MiB";
}

}  // namespace

std::string HivePath() {
    const std::string explicitPath = NonEmptyVariable("PORTRIX_HKCU");
    if (!explicitPath.empty()) return explicitPath;
    const std::string config = NonEmptyVariable("XDG_CONFIG_HOME");
    if (!config.empty()) return config + kHiveBelowConfig;
    std::string home = NonEmptyVariable("HOME");
    if (home.empty()) {
        if (const passwd* user = getpwuid(getuid())) home = user->pw_dir;
    }
    return home + "/.config" + kHiveBelowConfig;
}

bool LoadHive(Hive* hive, DWORD* error, std::string* problem) {
    hive->keys.clear();
    std::string ignored;
    if (problem == nullptr) problem = &ignored;
    const std::string path = HivePath();
    // O_NONBLOCK: a pipe at the hive's name must not keep the caller waiting for a writer.
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        if (errno == ENOENT || errno == ENOTDIR) return true;
        *error = ERROR_ACCESS_DENIED;
        *problem = "the registry hive " + path + " cannot be opened: " + std::strerror(errno);
        return false;
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
        close(fd);
        *error = ERROR_ACCESS_DENIED;
        *problem = "the registry hive " + path + " is not a regular file; it is not read";
        return false;
    }
    // The size is checked as the file is read too: it may grow meanwhile.
    std::string bytes;
    if (st.st_size > 0) {
        bytes.reserve(std::min(static_cast<size_t>(st.st_size), kMaxRegistryHiveBytes) + 1);
    }
    const int readErrno = platform::internal::ReadToEnd(fd, &bytes, kMaxRegistryHiveBytes);
    close(fd);
    if (readErrno != 0) {
        *error = ERROR_READ_FAULT;
        *problem = "the registry hive " + path + " cannot be read: " + std::strerror(readErrno);
        return false;
    }
    if (bytes.size() > kMaxRegistryHiveBytes) {
        *error = ERROR_FILE_TOO_LARGE;
        *problem = "the registry hive " + path + " is larger than " +
                   MegabytesText(kMaxRegistryHiveBytes) +
                   ", the most a hive may hold; it is not read";
        return false;
    }
    std::string why;
    if (!ParseHive(bytes, hive, &why)) {
        *error = ERROR_BADKEY;
        *problem = "the file " + path + " is not a registry hive: " + why;
        return false;
    }
    return true;
}

bool SaveHive(const Hive& hive, DWORD* error) {
    const std::string text = SerializeHive(hive);
    if (text.size() > kMaxRegistryHiveBytes) {
        *error = ERROR_FILE_TOO_LARGE;
        return false;
    }
    const std::string path = HivePath();
    const std::string folder = FolderOf(path);
    if (!folder.empty() && !MakeDirectories(folder)) {
        *error = ERROR_PATH_NOT_FOUND;
        return false;
    }
    std::string temporary;
    const int fd = internal::CreateWriteTemporary(path, &temporary);
    if (fd < 0) {
        *error = internal::Win32ErrorFromErrno(errno, path);
        return false;
    }
    // The hive keeps the mode it had: one kept private stays private.
    struct stat old;
    fchmod(fd, stat(path.c_str(), &old) == 0 ? (old.st_mode & 07777) : kNewHiveMode);
    const bool ok = platform::internal::WriteAll(fd, text) && fsync(fd) == 0;
    const int writeErrno = errno;
    close(fd);
    if (!ok || rename(temporary.c_str(), path.c_str()) != 0) {
        *error = internal::Win32ErrorFromErrno(ok ? errno : writeErrno, path);
        unlink(temporary.c_str());
        return false;
    }
    return true;
}

HiveWriteLock::~HiveWriteLock() {
    if (m_fd >= 0) close(m_fd);  // also releases the lock
}

bool HiveWriteLock::Take(DWORD* error) {
    const std::string folder = FolderOf(HivePath());
    if (folder.empty()) return true;  // a hive in the root folder: nothing to lock on
    if (!MakeDirectories(folder)) {
        *error = ERROR_PATH_NOT_FOUND;
        return false;
    }
    m_fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (m_fd < 0) {
        *error = internal::Win32ErrorFromErrno(errno, folder);
        return false;
    }
    for (int attempt = 0; attempt < kLockAttempts; ++attempt) {
        if (flock(m_fd, LOCK_EX | LOCK_NB) == 0) return true;
        // A file system without flock() on folders: writers go on unlocked, as before.
        if (errno != EWOULDBLOCK && errno != EINTR) return true;
        const timespec pause = {0, kLockPauseNanoseconds};
        nanosleep(&pause, nullptr);
    }
    *error = ERROR_LOCK_VIOLATION;
    return false;
}

}  // namespace platform::registry

namespace platform {

std::string RegistryHivePath() {
    return registry::HivePath();
}

std::string RegistryHiveProblem() {
    registry::Hive hive;
    DWORD error = 0;
    std::string problem;
    registry::LoadHive(&hive, &error, &problem);
    return problem;
}

}  // namespace platform
