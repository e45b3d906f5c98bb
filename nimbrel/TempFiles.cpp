#include "TempFiles.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>

namespace nimbrel {

int RemoveStaleTempFiles(int directoryFd, std::chrono::seconds maxAge) {
    // The listing gets a descriptor of its own; directoryFd stays with the caller.
    const int listed = ::openat(directoryFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (listed < 0) return 0;
    DIR* dir = ::fdopendir(listed);
    if (dir == nullptr) {
        ::close(listed);
        return 0;
    }
    const std::time_t now = std::time(nullptr);
    int removed = 0;
    while (const dirent* entry = ::readdir(dir)) {
        if (!IsTempName(entry->d_name)) continue;
        struct stat info {};
        if (::fstatat(listed, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISREG(info.st_mode))
            continue;
        if (now - info.st_mtime > maxAge.count() && ::unlinkat(listed, entry->d_name, 0) == 0)
            ++removed;
    }
    ::closedir(dir);
    return removed;
}

void StaleTempSweeper::BeforeWriting(const std::string& directory, int directoryFd) {
    constexpr auto kSweepInterval = std::chrono::hours(1);
    const auto now = std::chrono::steady_clock::now();
    const auto found = m_lastSweep.find(directory);
    if (found != m_lastSweep.end() && now - found->second < kSweepInterval) return;
    m_lastSweep[directory] = now;
    RemoveStaleTempFiles(directoryFd);
}

}  // namespace nimbrel
