// The memo of missing files (platform/missing_files.h).
//
// One inotify instance per process. A remembered path depends on the watch of every directory
// on its resolved POSIX path, each for one name: the component that follows it. An event for
// that name (compared without regard to case, as paths are resolved) forgets the path; an event
// on a directory itself (deleted, moved, unmounted, its attributes changed, the watch gone)
// forgets every path through it; a queue overflow forgets everything. A mount or unmount sends
// no inotify event (a file system mounted over a watched folder hides it without a word), so
// the mount table (/proc/self/mountinfo, which reports a change as POLLPRI) is watched beside
// the instance: any change forgets everything. Forgetting everything closes the instance,
// which drops all its watches; the next miss starts a new one.
#include "platform/missing_files.h"

#include <linux/magic.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <string>
#include <unordered_map>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

#include "internal/missing_files.h"
#include "platform/path.h"

namespace platform::internal {
namespace {

constexpr uint32_t kWatchMask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_ATTRIB |
                                IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
constexpr uint32_t kDirectoryGone = IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED | IN_UNMOUNT;
// Beyond these everything is forgotten and begun again, which bounds memory and watches.
constexpr size_t kMaxRemembered = 4096;
constexpr size_t kMaxDependents = 64 * 1024;
constexpr size_t kEventBufferBytes = 16 * 1024;
constexpr char kMountTable[] = "/proc/self/mountinfo";

// File systems whose every change passes through this kernel, where inotify misses nothing.
// Network and user-space file systems can change from elsewhere without an event.
bool ChangesAllSeenHere(const std::string& directory) {
    struct statfs fs;
    if (statfs(directory.c_str(), &fs) != 0) return false;
    switch (static_cast<unsigned long>(fs.f_type)) {
        case EXT4_SUPER_MAGIC:  // also ext2 and ext3
        case XFS_SUPER_MAGIC:
        case BTRFS_SUPER_MAGIC:
        case TMPFS_MAGIC:
        case OVERLAYFS_SUPER_MAGIC:
        case F2FS_SUPER_MAGIC:
            return true;
        default:
            return false;
    }
}

std::string Folded(std::string name) {
    for (char& c : name) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return name;
}

// Each directory on an absolute path, from the root down, with the component that follows it.
// Empty when the path has a "." or ".." component or is not absolute.
std::vector<std::pair<std::string, std::string>> DirectoriesOf(const std::string& posixPath) {
    std::vector<std::pair<std::string, std::string>> chain;
    if (posixPath.size() < 2 || posixPath[0] != '/' || posixPath.back() == '/') return chain;
    std::string directory = "/";
    size_t begin = 1;
    while (begin < posixPath.size()) {
        size_t end = posixPath.find('/', begin);
        if (end == std::string::npos) end = posixPath.size();
        const std::string component = posixPath.substr(begin, end - begin);
        if (component == "." || component == "..") return {};
        if (!component.empty()) {
            chain.emplace_back(directory, component);
            if (directory.size() > 1) directory += '/';
            directory += component;
        }
        begin = end + 1;
    }
    return chain;
}

struct Dependent {
    std::string name;  // folded
    std::string path;  // the remembered Windows path
};

class Memo {
public:
    bool Known(const char* windowsPath) {
        std::lock_guard<std::mutex> hold(lock_);
        if (fd_ < 0 || remembered_.empty()) return false;
        DrainLocked();
        return remembered_.count(std::string_view(windowsPath)) != 0;
    }

    void Note(const char* windowsPath, const std::string& posixPath) {
        const auto chain = DirectoriesOf(posixPath);
        if (chain.empty()) return;
        std::lock_guard<std::mutex> hold(lock_);
        if (!enabled_ || remembered_.count(std::string_view(windowsPath)) != 0) return;
        if (remembered_.size() >= kMaxRemembered || dependents_ >= kMaxDependents)
            ForgetAllLocked();
        if (fd_ < 0 && !StartLocked()) return;

        // Watches first, then the second look: a file that appears after the look has its
        // event queued, and the next answer reads it.
        std::vector<int> watches;
        for (const auto& step : chain) {
            struct stat st;
            // A symbolic link would be followed by the watch, which then misses a change of
            // the link's own directory.
            if (lstat(step.first.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return;
            if (!ChangesAllSeenHere(step.first)) return;
            const int wd = inotify_add_watch(fd_, step.first.c_str(), kWatchMask);
            if (wd < 0) return;  // the watch limit, above all
            watches.push_back(wd);
        }
        struct stat st;
        if (ToPosixPath(windowsPath) != posixPath || lstat(posixPath.c_str(), &st) == 0 ||
            errno != ENOENT)
            return;

        auto owned = std::make_unique<const std::string>(windowsPath);
        const std::string_view key = *owned;
        remembered_.emplace(key, std::move(owned));
        for (size_t i = 0; i < chain.size(); ++i) {
            watches_[watches[i]].push_back({Folded(chain[i].second), std::string(windowsPath)});
        }
        dependents_ += chain.size();
    }

    void SetEnabled(bool enabled) {
        std::lock_guard<std::mutex> hold(lock_);
        if (!enabled) ForgetAllLocked();
        enabled_ = enabled;
    }

    int Count() {
        std::lock_guard<std::mutex> hold(lock_);
        if (fd_ >= 0) DrainLocked();
        return static_cast<int>(remembered_.size());
    }

    // A child shares the instance's queue with its parent: were it to read events, the parent
    // would never see them. So the child starts from nothing, on an instance of its own.
    void LockForFork() { lock_.lock(); }
    void UnlockAfterFork(bool inChild) {
        if (inChild) ForgetAllLocked();
        lock_.unlock();
    }

private:
    // The mount table first: a mount made after it is opened reports itself, so none made
    // after the watches can go unseen. Without it nothing is remembered.
    bool StartLocked() {
        mounts_ = open(kMountTable, O_RDONLY | O_CLOEXEC);
        if (mounts_ >= 0) fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (fd_ >= 0) return true;
        ForgetAllLocked();
        return false;
    }

    void DrainLocked() {
        pollfd ready[] = {{mounts_, POLLPRI, 0}, {fd_, POLLIN, 0}};
        while (poll(ready, 2, 0) < 0) {
            if (errno != EINTR) {
                ForgetAllLocked();
                return;
            }
        }
        if (ready[0].revents != 0 || (ready[1].revents & ~POLLIN) != 0) {
            ForgetAllLocked();  // the mount table changed, or a descriptor failed
            return;
        }
        if (ready[1].revents == 0) return;
        alignas(inotify_event) char buffer[kEventBufferBytes];
        for (;;) {
            const ssize_t got = read(fd_, buffer, sizeof buffer);
            if (got < 0 && errno == EINTR) continue;
            if (got < 0 && errno == EAGAIN) return;
            if (got <= 0) {
                ForgetAllLocked();
                return;
            }
            for (const char* p = buffer; p < buffer + got;) {
                const auto* event = reinterpret_cast<const inotify_event*>(p);
                p += sizeof(inotify_event) + event->len;
                if (event->mask & IN_Q_OVERFLOW) {
                    ForgetAllLocked();
                    return;
                }
                ApplyLocked(*event);
            }
        }
    }

    void ApplyLocked(const inotify_event& event) {
        auto watch = watches_.find(event.wd);
        if (watch == watches_.end()) return;
        std::vector<Dependent>& dependents = watch->second;
        if (event.len == 0 || (event.mask & kDirectoryGone)) {
            for (const Dependent& d : dependents) remembered_.erase(d.path);
            dependents_ -= dependents.size();
            watches_.erase(watch);
            return;
        }
        const std::string name = Folded(event.name);
        for (size_t i = 0; i < dependents.size();) {
            if (dependents[i].name != name) {
                ++i;
                continue;
            }
            remembered_.erase(dependents[i].path);
            dependents[i] = std::move(dependents.back());
            dependents.pop_back();
            --dependents_;
        }
    }

    void ForgetAllLocked() {
        if (fd_ >= 0) close(fd_);
        if (mounts_ >= 0) close(mounts_);
        fd_ = -1;
        mounts_ = -1;
        remembered_.clear();
        watches_.clear();
        dependents_ = 0;
    }

    std::mutex lock_;
    bool enabled_ = true;
    int fd_ = -1;      // the inotify instance
    int mounts_ = -1;  // the mount table, open while fd_ is
    // Looked up on every open: keyed by a view of the path the entry owns, so that a lookup
    // makes no copy of the caller's path.
    std::unordered_map<std::string_view, std::unique_ptr<const std::string>> remembered_;
    std::unordered_map<int, std::vector<Dependent>> watches_;  // by watch descriptor
    size_t dependents_ = 0;
};

Memo& TheMemo() {
    static Memo* memo = [] {
        auto* made = new Memo;  // never destroyed: opens may come during exit
        pthread_atfork([] { TheMemo().LockForFork(); }, [] { TheMemo().UnlockAfterFork(false); },
                       [] { TheMemo().UnlockAfterFork(true); });
        return made;
    }();
    return *memo;
}

}  // namespace

bool KnownMissing(const char* windowsPath) {
    return windowsPath != nullptr && TheMemo().Known(windowsPath);
}

void NoteMissing(const char* windowsPath, const std::string& posixPath) {
    if (windowsPath != nullptr) TheMemo().Note(windowsPath, posixPath);
}

}  // namespace platform::internal

namespace platform {

void SetMissingFileMemo(bool enabled) {
    internal::TheMemo().SetEnabled(enabled);
}

int RememberedMissingFiles() {
    return internal::TheMemo().Count();
}

}  // namespace platform
