// Removing the temporary files of whole-file writes that were cut short.
#include "platform/write_temporaries.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "internal/write_temporary.h"
#include "platform/path.h"

namespace platform {
namespace {

// name is file's name with a temporary file's suffix: a dot and six letters or digits.
bool IsTemporaryOf(const std::string& name, const std::string& file) {
    if (name.size() != file.size() + internal::kTemporarySuffixLength) return false;
    if (name.compare(0, file.size(), file) != 0 || name[file.size()] != '.') return false;
    for (size_t i = file.size() + 1; i < name.size(); ++i) {
        if (!std::isalnum(static_cast<unsigned char>(name[i]))) return false;
    }
    return true;
}

// Removes the entry name of the directory behind directoryFd when it is a stale temporary
// file: a regular file, written long enough ago, whose writer's lock can be had.
bool RemoveIfStale(int directoryFd, const std::string& name, time_t now) {
    const int fd = openat(directoryFd, name.c_str(),
                          O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return false;
    struct stat st;
    bool removed = false;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && now - st.st_mtime > kStaleWriteSeconds &&
        flock(fd, LOCK_EX | LOCK_NB) == 0) {
        // The name must still be this file: a writer may have renamed it away and another
        // made a new one of the same name meanwhile (as unlikely as six random characters).
        struct stat named;
        removed = fstatat(directoryFd, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
                  named.st_dev == st.st_dev && named.st_ino == st.st_ino &&
                  unlinkat(directoryFd, name.c_str(), 0) == 0;
    }
    close(fd);
    return removed;
}

}  // namespace

int RemoveStaleWriteTemporaries(LPCSTR path) {
    const std::string posix = ToPosixPath(path);
    const size_t slash = posix.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "." : posix.substr(0, slash + 1);
    const std::string file = slash == std::string::npos ? posix : posix.substr(slash + 1);
    if (file.empty()) return 0;
    std::unique_ptr<DIR, int (*)(DIR*)> listing(opendir(folder.c_str()), closedir);
    if (!listing) return 0;
    std::vector<std::string> candidates;  // gathered first: removing while reading may skip
    while (const dirent* entry = readdir(listing.get())) {
        if (IsTemporaryOf(entry->d_name, file)) candidates.push_back(entry->d_name);
    }
    const time_t now = time(nullptr);
    int removed = 0;
    for (const std::string& name : candidates) {
        if (RemoveIfStale(dirfd(listing.get()), name, now)) ++removed;
    }
    return removed;
}

}  // namespace platform
