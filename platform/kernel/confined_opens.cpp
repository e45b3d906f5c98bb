// Opens below a confined folder, through the shared BeneathOpen.h: openat2 with RESOLVE_BENEATH
// and RESOLVE_NO_SYMLINKS where the kernel offers it, else a walk of O_NOFOLLOW opens.
#include "platform/confined_opens.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <mutex>
#include <string>
#include <vector>

#include "BeneathOpen.h"
#include "internal/file_share.h"
#include "internal/missing_files.h"
#include "platform/path.h"

namespace platform {
namespace {

std::mutex g_mutex;
std::vector<std::string> g_roots;  // each with a trailing '/'
std::atomic<bool> g_anyRoot{false};

// The confined root that posixPath lies below, or "".
std::string RootOf(const std::string& posixPath) {
    if (!g_anyRoot.load(std::memory_order_acquire)) return {};
    std::lock_guard<std::mutex> lock(g_mutex);
    for (const std::string& root : g_roots) {
        if (posixPath.size() > root.size() && posixPath.compare(0, root.size(), root) == 0) {
            return root;
        }
    }
    return {};
}

}  // namespace

void ConfineOpensBelow(LPCSTR path) {
    std::string root = ToPosixPath(path);
    while (root.size() > 1 && root.back() == '/') root.pop_back();
    if (root.empty() || root == "/") return;
    root += '/';
    std::lock_guard<std::mutex> lock(g_mutex);
    for (const std::string& known : g_roots) {
        if (known == root) return;
    }
    g_roots.push_back(root);
    g_anyRoot.store(true, std::memory_order_release);
}

namespace internal {

std::string ConfinedFolderOf(const std::string& posixDirectory) {
    std::string root = RootOf(posixDirectory + "/.");
    if (!root.empty()) root.pop_back();
    return root;
}

int OpenFile(const std::string& posixPath, int flags, mode_t mode, bool* refusedLink,
             const KnownPath* known) {
    *refusedLink = false;
    int fd = -1;
    if (known != nullptr && known->folder && known->folderLength < posixPath.size()) {
        fd = beneath::OpenBeneath(known->folder->Get(), posixPath.substr(known->folderLength),
                                  flags, mode);
    } else {
        const std::string root = RootOf(posixPath);
        if (root.empty()) return open(posixPath.c_str(), flags, mode);
        const beneath::UniqueFd rootFd(open(root.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        if (!rootFd) return -1;
        fd = beneath::OpenBeneath(rootFd.Get(), posixPath.substr(root.size()), flags, mode);
    }
    const int err = errno;
    // A link on the way or at the end, or a way out of the folder (the walk meets a link on
    // the way as no directory: ENOTDIR, which then stays a path not found).
    *refusedLink = fd < 0 && (err == ELOOP || err == EXDEV);
    errno = err;
    return fd;
}

}  // namespace internal
}  // namespace platform
