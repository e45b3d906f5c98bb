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
#include <dirent.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <mutex>
#include <string>
#include <unordered_map>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

#include "internal/file_share.h"
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
constexpr size_t kMaxListedNames = 256 * 1024;
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

// An entry of a listed folder.
struct Entry {
    std::string name;
    unsigned char type;  // DT_* of readdir; DT_UNKNOWN once an event made it anew
};

// A folder below which paths are resolved from memory: watched, and (for a folder that files
// are opened in) listed; its entries then change as the events say.
struct Folder {
    int watch = -1;
    uint64_t generation = 0;            // tells it from a folder of the same path remembered later
    std::string parent;                 // the parent folder's path; empty for "/"
    std::string folded;                 // its own name, folded
    std::vector<std::string> children;  // paths of the remembered folders inside it
    bool listed = false;
    std::unordered_map<std::string, std::vector<Entry>> entries;  // by folded name
    std::shared_ptr<const beneath::UniqueFd> held;                // a confined folder's own handle
};

// A Windows folder text ("...\Avatar\default\") resolved to a remembered folder.
struct Resolution {
    std::string folder;
    uint64_t generation;
    std::string confined;  // the confined folder it lies below
};

// "/a/b" and "c" give "/a/b/c"; "/" and "c" give "/c".
std::string Join(const std::string& folder, const std::string& name) {
    return folder == "/" ? "/" + name : folder + "/" + name;
}

size_t LastSeparator(const std::string& text) {
    return text.find_last_of("\\/");
}

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
        if (ResolveByWalking(windowsPath) != posixPath || lstat(posixPath.c_str(), &st) == 0 ||
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

    bool Resolve(const char* windowsPath, std::string* posixPath, KnownPath* known) {
        const std::string text = windowsPath;
        const size_t separator = LastSeparator(text);
        if (separator == std::string::npos) return false;
        const std::string name = text.substr(separator + 1);
        if (name == "." || name == "..") return false;
        std::lock_guard<std::mutex> hold(lock_);
        if (fd_ < 0 || resolutions_.empty()) return false;
        DrainLocked();
        const auto resolution = resolutions_.find(text.substr(0, separator + 1));
        if (resolution == resolutions_.end()) return false;
        const auto folder = folders_.find(resolution->second.folder);
        if (folder == folders_.end() ||
            folder->second.generation != resolution->second.generation || !folder->second.listed)
            return false;
        const std::string& path = folder->first;
        KnownPath answer;
        if (name.empty()) {
            *posixPath = path == "/" ? path : path + "/";
            answer.kind = EntryKind::Other;
        } else {
            // As the walk resolves it: the name as written when it exists, else the smallest
            // in byte order of those that match it without regard to case.
            const Entry* chosen = nullptr;
            const auto candidates = folder->second.entries.find(Folded(name));
            if (candidates != folder->second.entries.end()) {
                for (const Entry& entry : candidates->second) {
                    if (entry.name == name) {
                        chosen = &entry;
                        break;
                    }
                    if (chosen == nullptr || entry.name < chosen->name) chosen = &entry;
                }
            }
            *posixPath = Join(path, chosen != nullptr ? chosen->name : name);
            answer.kind = chosen == nullptr            ? EntryKind::Missing
                          : chosen->type == DT_REG     ? EntryKind::RegularFile
                          : chosen->type == DT_UNKNOWN ? EntryKind::Unknown
                                                       : EntryKind::Other;
        }
        const auto confined = folders_.find(resolution->second.confined);
        if (confined != folders_.end() && confined->second.held) {
            answer.folder = confined->second.held;
            answer.folderLength = confined->first.size() + 1;
        }
        if (known != nullptr) *known = std::move(answer);
        return true;
    }

    void Remember(const char* windowsPath, const std::string& posixPath) {
        const std::string text = windowsPath;
        const size_t separator = LastSeparator(text);
        const size_t slash = posixPath.find_last_of('/');
        if (separator == std::string::npos || slash == std::string::npos) return;
        std::string directory = posixPath.substr(0, slash);
        if (directory.empty()) directory = "/";
        // Only a plain absolute path: no "." or "..", nothing doubled.
        if (posixPath[0] != '/' || (directory != "/" && DirectoriesOf(directory).empty())) return;
        const std::string confined = ConfinedFolderOf(directory);
        if (confined.empty()) return;
        const std::string folderText = text.substr(0, separator + 1);

        std::lock_guard<std::mutex> hold(lock_);
        if (!enabled_) return;
        if (fd_ >= 0) DrainLocked();
        if (resolutions_.size() >= kMaxRemembered || listedNames_ >= kMaxListedNames)
            ForgetAllLocked();
        if (fd_ < 0 && !StartLocked()) return;
        if (!WatchChainLocked(directory, confined)) return;
        Folder& folder = folders_[directory];
        if (!folder.listed && !ListLocked(directory, folder)) return;
        // The second look, now that every folder on the way is watched: a change after it
        // has its event queued.
        std::string again = ResolveByWalking(folderText.c_str());
        while (again.size() > 1 && again.back() == '/') again.pop_back();
        if (again != directory) return;
        resolutions_[folderText] = {directory, folder.generation, confined};
    }

    bool List(const std::string& folderText, std::string* posixFolder,
              std::vector<std::string>* names) {
        std::lock_guard<std::mutex> hold(lock_);
        if (fd_ < 0 || resolutions_.empty()) return false;
        DrainLocked();
        const auto resolution = resolutions_.find(folderText);
        if (resolution == resolutions_.end()) return false;
        const auto folder = folders_.find(resolution->second.folder);
        if (folder == folders_.end() ||
            folder->second.generation != resolution->second.generation || !folder->second.listed)
            return false;
        *posixFolder = folder->first == "/" ? folder->first : folder->first + "/";
        for (const auto& named : folder->second.entries) {
            for (const Entry& entry : named.second) names->push_back(entry.name);
        }
        return true;
    }

    int Folders() {
        std::lock_guard<std::mutex> hold(lock_);
        if (fd_ >= 0) DrainLocked();
        int count = 0;
        for (const auto& resolution : resolutions_) {
            const auto folder = folders_.find(resolution.second.folder);
            if (folder != folders_.end() &&
                folder->second.generation == resolution.second.generation)
                ++count;
        }
        return count;
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
    // Watches every folder from "/" down to directory that is not watched yet, each checked as
    // the missing files' are; the confined folder is also held open.
    bool WatchChainLocked(const std::string& directory, const std::string& confined) {
        std::vector<std::pair<std::string, std::string>> steps;  // folder and its parent
        steps.emplace_back("/", "");
        for (const auto& step : DirectoriesOf(directory))
            steps.emplace_back(Join(step.first, step.second), step.first);
        for (const auto& [path, parent] : steps) {
            if (folders_.count(path) != 0) continue;
            struct stat st;
            if (lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
            if (!ChangesAllSeenHere(path)) return false;
            const int wd = inotify_add_watch(fd_, path.c_str(), kWatchMask);
            if (wd < 0) return false;
            Folder folder;
            folder.watch = wd;
            folder.generation = ++generations_;
            folder.parent = parent;
            folder.folded = Folded(path.substr(path.find_last_of('/') + 1));
            if (path == confined) {
                auto held = std::make_shared<beneath::UniqueFd>(
                    open(path.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
                if (*held) folder.held = std::move(held);
            }
            if (!parent.empty()) folders_[parent].children.push_back(path);
            folderWatches_[wd].push_back(path);
            folders_.emplace(path, std::move(folder));
        }
        return true;
    }

    // Reads the entries of a watched folder.
    bool ListLocked(const std::string& path, Folder& folder) {
        const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) return false;
        std::unique_ptr<DIR, int (*)(DIR*)> dir(fdopendir(fd), closedir);
        if (!dir) {
            close(fd);
            return false;
        }
        size_t count = 0;
        while (const dirent* entry = readdir(dir.get())) {
            const std::string name = entry->d_name;
            if (name == "." || name == "..") continue;
            if (listedNames_ + ++count > kMaxListedNames) return false;
            folder.entries[Folded(name)].push_back({name, entry->d_type});
        }
        folder.listed = true;
        listedNames_ += count;
        return true;
    }

    void ForgetFolderLocked(const std::string& path) {
        const auto found = folders_.find(path);
        if (found == folders_.end()) return;
        const std::vector<std::string> children = found->second.children;
        for (const std::string& child : children) ForgetFolderLocked(child);
        Folder& folder = folders_.at(path);
        for (const auto& named : folder.entries) listedNames_ -= named.second.size();
        auto& sharing = folderWatches_[folder.watch];
        sharing.erase(std::remove(sharing.begin(), sharing.end(), path), sharing.end());
        if (sharing.empty()) folderWatches_.erase(folder.watch);
        const auto parent = folders_.find(folder.parent);
        if (parent != folders_.end()) {
            auto& siblings = parent->second.children;
            siblings.erase(std::remove(siblings.begin(), siblings.end(), path), siblings.end());
        }
        folders_.erase(path);
    }

    // An event in a remembered folder: a folder of that name inside it is forgotten (another
    // may now answer to the name), and a listing follows the entry's creation or removal. A
    // change of mode leaves a listing as it is: an entry's kind never changes in place.
    void ApplyToFoldersLocked(const inotify_event& event) {
        const auto watched = folderWatches_.find(event.wd);
        if (watched == folderWatches_.end()) return;
        const std::vector<std::string> paths = watched->second;
        for (const std::string& path : paths) {
            if (event.len == 0 || (event.mask & kDirectoryGone)) {
                ForgetFolderLocked(path);
                continue;
            }
            const std::string name = event.name;
            const std::string folded = Folded(name);
            const auto self = folders_.find(path);
            if (self == folders_.end()) continue;
            const std::vector<std::string> children = self->second.children;
            for (const std::string& child : children) {
                const auto found = folders_.find(child);
                if (found != folders_.end() && found->second.folded == folded)
                    ForgetFolderLocked(child);
            }
            const auto found = folders_.find(path);
            if (found == folders_.end() || !found->second.listed) continue;
            Folder& folder = found->second;
            std::vector<Entry>& named = folder.entries[folded];
            const auto same = std::find_if(named.begin(), named.end(),
                                           [&](const Entry& e) { return e.name == name; });
            const bool existed = same != named.end();
            if (existed) {
                named.erase(same);
                --listedNames_;
            }
            if ((event.mask & (IN_CREATE | IN_MOVED_TO)) || (existed && (event.mask & IN_ATTRIB))) {
                named.push_back({name, static_cast<unsigned char>(
                                           (event.mask & IN_ISDIR) ? DT_DIR : DT_UNKNOWN)});
                ++listedNames_;
            }
            if (named.empty()) folder.entries.erase(folded);
        }
    }

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
        ApplyToFoldersLocked(event);
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
        folders_.clear();
        folderWatches_.clear();
        resolutions_.clear();
        listedNames_ = 0;
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
    std::unordered_map<std::string, Folder> folders_;                  // by POSIX path
    std::unordered_map<int, std::vector<std::string>> folderWatches_;  // folders by watch
    std::unordered_map<std::string, Resolution> resolutions_;          // by Windows folder text
    uint64_t generations_ = 0;
    size_t listedNames_ = 0;
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

bool ResolveRemembered(const char* windowsPath, std::string* posixPath, KnownPath* known) {
    return windowsPath != nullptr && TheMemo().Resolve(windowsPath, posixPath, known);
}

bool ListRemembered(const std::string& windowsFolder, std::string* posixFolder,
                    std::vector<std::string>* names) {
    return TheMemo().List(windowsFolder, posixFolder, names);
}

void RememberResolved(const char* windowsPath, const std::string& posixPath) {
    if (windowsPath != nullptr && !posixPath.empty()) TheMemo().Remember(windowsPath, posixPath);
}

}  // namespace platform::internal

namespace platform {

void SetMissingFileMemo(bool enabled) {
    internal::TheMemo().SetEnabled(enabled);
}

int RememberedMissingFiles() {
    return internal::TheMemo().Count();
}

int RememberedFolders() {
    return internal::TheMemo().Folders();
}

}  // namespace platform
