// The hive's file: where it is, reading it within the size limit, and replacing it whole.
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "internal/fd_io.h"
#include "internal/file_share.h"
#include "platform/registry_hive.h"
#include "registry/hive.h"
#include "winbase.h"
#include "winreg.h"

namespace platform::registry {
namespace {

constexpr char kHiveBelowConfig[] = "/portrix/hkcu.reg";

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
    const size_t slash = path.find_last_of('/');
    if (slash != std::string::npos && slash > 0 && !MakeDirectories(path.substr(0, slash))) {
        *error = ERROR_PATH_NOT_FOUND;
        return false;
    }
    std::string temporary = path + ".XXXXXX";
    const int fd = mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) {
        *error = internal::Win32ErrorFromErrno(errno, path);
        return false;
    }
    const bool ok = platform::internal::WriteAll(fd, text) && fsync(fd) == 0;
    const int writeErrno = errno;
    fchmod(fd, 0644);
    close(fd);
    if (!ok || rename(temporary.c_str(), path.c_str()) != 0) {
        *error = internal::Win32ErrorFromErrno(ok ? errno : writeErrno, path);
        unlink(temporary.c_str());
        return false;
    }
    return true;
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
