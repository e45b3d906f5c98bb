#include "Beneath.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <vector>

namespace nimbrel {
namespace {

// Set once the kernel (or a filter in front of it) has refused openat2 itself.
std::atomic<bool> g_noOpenat2{false};

std::vector<std::string_view> Components(std::string_view relative) {
    std::vector<std::string_view> parts;
    size_t start = 0;
    while (start <= relative.size()) {
        const size_t slash = relative.find('/', start);
        const size_t end = slash == std::string_view::npos ? relative.size() : slash;
        const std::string_view part = relative.substr(start, end - start);
        if (!part.empty() && part != ".") parts.push_back(part);
        start = end + 1;
    }
    return parts;
}

bool HasParentOrIsAbsolute(std::string_view relative) {
    if (!relative.empty() && relative.front() == '/') return true;
    for (std::string_view part : Components(relative)) {
        if (part == "..") return true;
    }
    return false;
}

// openat2 gives EAGAIN both when a rename raced its lookup, which a second try mends, and when
// a non-blocking open meets a file lease that another process holds, which no number of tries
// mends until that process lets go. A few tries tell the first; the walk then answers.
constexpr int kKernelOpenTries = 4;

int OpenWithKernel(int directoryFd, const std::string& relative, int flags, mode_t mode) {
    open_how how{};
    how.flags = static_cast<__u64>(flags | O_CLOEXEC);
    how.mode = (flags & O_CREAT) ? mode : 0;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
    long fd = -1;
    for (int tries = 0; tries < kKernelOpenTries; ++tries) {
        fd = ::syscall(SYS_openat2, directoryFd, relative.c_str(), &how, sizeof how);
        if (fd >= 0 || (errno != EINTR && errno != EAGAIN)) break;
    }
    return static_cast<int>(fd);
}

int OpenByWalking(int directoryFd, std::string_view relative, int flags, mode_t mode) {
    const std::vector<std::string_view> parts = Components(relative);
    if (parts.empty()) return ::openat(directoryFd, ".", flags | O_CLOEXEC, mode);
    UniqueFd current;
    int at = directoryFd;
    for (size_t i = 0; i + 1 < parts.size(); ++i) {
        const std::string name(parts[i]);
        // O_PATH with O_NOFOLLOW opens a link itself, which then fails O_DIRECTORY.
        current.Reset(::openat(at, name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!current) return -1;
        at = current.Get();
    }
    return ::openat(at, std::string(parts.back()).c_str(), flags | O_NOFOLLOW | O_CLOEXEC, mode);
}

}  // namespace

int OpenBeneath(int directoryFd, std::string_view relative, int flags, mode_t mode,
                Resolution resolution) {
    if (HasParentOrIsAbsolute(relative)) {
        errno = EXDEV;
        return -1;
    }
    if (resolution == Resolution::Automatic && !g_noOpenat2.load(std::memory_order_relaxed)) {
        const std::string path = relative.empty() ? "." : std::string(relative);
        const int fd = OpenWithKernel(directoryFd, path, flags, mode);
        if (fd >= 0 || (errno != ENOSYS && errno != EPERM && errno != EAGAIN)) return fd;
        // Older kernels lack the call. Some sandboxes refuse it with EPERM, which an open of an
        // immutable file gives too: the walk then answers for this call alone, as it does after
        // repeated EAGAIN (with a lease held elsewhere, it fails EAGAIN once, at once).
        if (errno == ENOSYS) g_noOpenat2.store(true, std::memory_order_relaxed);
    }
    return OpenByWalking(directoryFd, relative, flags, mode);
}

int OpenDirectory(const std::string& path) {
    return ::open(path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
}

std::string_view ParentOf(std::string_view relative) {
    const size_t slash = relative.rfind('/');
    return slash == std::string_view::npos ? std::string_view() : relative.substr(0, slash);
}

std::string_view NameOf(std::string_view relative) {
    const size_t slash = relative.rfind('/');
    return slash == std::string_view::npos ? relative : relative.substr(slash + 1);
}

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
}

int UniqueFd::Release() {
    const int fd = m_fd;
    m_fd = -1;
    return fd;
}

void UniqueFd::Reset(int fd) {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = fd;
}

}  // namespace nimbrel
