#include "TempFiles.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <random>

namespace nimbrel {

std::string MakeTempName() {
    thread_local std::mt19937_64 generator{std::random_device{}()};
    char random[17];
    std::snprintf(random, sizeof random, "%016llx", static_cast<unsigned long long>(generator()));
    return std::string(kTempPrefix) + random + kTempSuffix;
}

bool IsTempName(std::string_view fileName) {
    const std::string_view prefix = kTempPrefix;
    const std::string_view suffix = kTempSuffix;
    return fileName.size() > prefix.size() + suffix.size() && fileName.substr(0, prefix.size()) == prefix &&
           fileName.substr(fileName.size() - suffix.size()) == suffix;
}

std::string DirectoryOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

int RemoveStaleTempFiles(const std::string& directory, std::chrono::seconds maxAge) {
    DIR* dir = ::opendir(directory.c_str());
    if (dir == nullptr) return 0;
    const int dirFd = ::dirfd(dir);
    const std::time_t now = std::time(nullptr);
    int removed = 0;
    while (const dirent* entry = ::readdir(dir)) {
        if (!IsTempName(entry->d_name)) continue;
        struct stat info {};
        if (::fstatat(dirFd, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(info.st_mode)) continue;
        if (now - info.st_mtime > maxAge.count() && ::unlinkat(dirFd, entry->d_name, 0) == 0) ++removed;
    }
    ::closedir(dir);
    return removed;
}

void StaleTempSweeper::BeforeWriting(const std::string& directory) {
    constexpr auto kSweepInterval = std::chrono::hours(1);
    const auto now = std::chrono::steady_clock::now();
    const auto found = m_lastSweep.find(directory);
    if (found != m_lastSweep.end() && now - found->second < kSweepInterval) return;
    m_lastSweep[directory] = now;
    RemoveStaleTempFiles(directory);
}

}  // namespace nimbrel
