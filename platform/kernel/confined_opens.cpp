// Opens below a confined folder: openat2 with RESOLVE_BENEATH and RESOLVE_NO_SYMLINKS where the
// kernel offers it, else a walk of O_NOFOLLOW opens, one component at a time.
#include "platform/confined_opens.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <mutex>
#include <string>
#include <vector>

#include "internal/file_share.h"
#include "platform/path.h"

namespace platform {
namespace {

std::mutex g_mutex;
std::vector<std::string> g_roots;  // each with a trailing '/'
std::atomic<bool> g_anyRoot{false};
std::atomic<bool> g_noOpenat2{false};  // the kernel, or a filter before it, refused the call

// A rename that races the lookup makes openat2 fail with EAGAIN; a few tries, not a loop.
constexpr int kOpenat2Attempts = 8;

std::vector<std::string> Components(const std::string& relative) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= relative.size()) {
        size_t end = relative.find('/', start);
        if (end == std::string::npos) end = relative.size();
        const std::string part = relative.substr(start, end - start);
        if (!part.empty() && part != ".") parts.push_back(part);
        start = end + 1;
    }
    return parts;
}

int OpenWithKernel(int rootFd, const std::string& relative, int flags, mode_t mode) {
    open_how how{};
    how.flags = static_cast<__u64>(flags);
    how.mode = (flags & O_CREAT) ? mode : 0;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
    long fd = -1;
    for (int attempt = 0; attempt < kOpenat2Attempts; ++attempt) {
        fd = syscall(SYS_openat2, rootFd, relative.c_str(), &how, sizeof how);
        if (fd >= 0 || (errno != EINTR && errno != EAGAIN)) break;
    }
    return static_cast<int>(fd);
}

int OpenByWalking(int rootFd, const std::string& relative, int flags, mode_t mode) {
    const std::vector<std::string> parts = Components(relative);
    for (const std::string& part : parts) {
        if (part == "..") {
            errno = EXDEV;
            return -1;
        }
    }
    if (parts.empty()) return openat(rootFd, ".", flags, mode);
    int at = rootFd;
    for (size_t i = 0; i + 1 < parts.size(); ++i) {
        // O_PATH with O_NOFOLLOW opens a link itself, which then fails O_DIRECTORY.
        const int next =
            openat(at, parts[i].c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (at != rootFd) close(at);
        if (next < 0) return -1;
        at = next;
    }
    const int fd = openat(at, parts.back().c_str(), flags | O_NOFOLLOW, mode);
    const int err = errno;
    if (at != rootFd) close(at);
    errno = err;
    return fd;
}

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

int OpenFile(const std::string& posixPath, int flags, mode_t mode, bool* refusedLink) {
    *refusedLink = false;
    const std::string root = RootOf(posixPath);
    if (root.empty()) return open(posixPath.c_str(), flags, mode);
    const int rootFd = open(root.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (rootFd < 0) return -1;
    const std::string relative = posixPath.substr(root.size());
    int fd = -1;
    if (!g_noOpenat2.load(std::memory_order_relaxed)) {
        fd = OpenWithKernel(rootFd, relative, flags, mode);
        if (fd < 0 && (errno == ENOSYS || errno == EPERM)) g_noOpenat2.store(true);
    }
    if (g_noOpenat2.load(std::memory_order_relaxed)) {
        fd = OpenByWalking(rootFd, relative, flags, mode);
    }
    const int err = errno;
    close(rootFd);
    // A link on the way or at the end, or a way out of the folder (the walk meets a link on
    // the way as no directory: ENOTDIR, which then stays a path not found).
    *refusedLink = fd < 0 && (err == ELOOP || err == EXDEV);
    errno = err;
    return fd;
}

}  // namespace internal
}  // namespace platform
