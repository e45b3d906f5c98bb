// Opening names below a directory without ever leaving it: every name is resolved beneath the
// directory and no symbolic link is followed, neither on the way nor at the end, so that a name
// replaced by a link cannot make the caller read, write or touch anything elsewhere. The text
// of a path alone cannot tell that.
//
// The piece the platform layer's confined folders and the download library's store both open
// through. It needs nothing but the C library and the kernel's headers, so that every library
// can include it without depending on another.
#pragma once

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <string>
#include <string_view>
#include <vector>

namespace beneath {

// How a name is resolved: by the kernel (openat2 with RESOLVE_BENEATH and RESOLVE_NO_SYMLINKS)
// where it offers that, else by a walk of O_NOFOLLOW opens, one component at a time. Walk
// forces the second, so that both can be tested.
enum class Resolution { Automatic, Walk };

// Owns one descriptor and closes it.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : m_fd(fd) {}
    ~UniqueFd() { Reset(); }
    UniqueFd(UniqueFd&& other) noexcept : m_fd(other.Release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) Reset(other.Release());
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int Get() const { return m_fd; }
    explicit operator bool() const { return m_fd >= 0; }
    int Release() {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }
    void Reset(int fd = -1) {
        if (m_fd >= 0) ::close(m_fd);
        m_fd = fd;
    }

private:
    int m_fd = -1;
};

namespace detail {

// Set once the kernel has said it lacks openat2 (one flag per library that includes this).
inline std::atomic<bool> g_noOpenat2{false};

// openat2 gives EAGAIN both when a rename raced its lookup, which a second try mends, and when
// a non-blocking open meets a file lease that another process holds, which no number of tries
// mends until that process lets go. A few tries tell the first; the walk then answers.
inline constexpr int kKernelOpenTries = 4;

inline std::vector<std::string_view> Components(std::string_view relative) {
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

inline bool HasParentOrIsAbsolute(std::string_view relative) {
    if (!relative.empty() && relative.front() == '/') return true;
    for (std::string_view part : Components(relative)) {
        if (part == "..") return true;
    }
    return false;
}

inline int OpenWithKernel(int directoryFd, const std::string& relative, int flags, mode_t mode) {
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

inline int OpenByWalking(int directoryFd, std::string_view relative, int flags, mode_t mode) {
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

}  // namespace detail

// Opens `relative` ('/'-separated; "" or "." is the directory itself) beneath the directory
// behind `directoryFd`. Absolute names and ".." components are refused (EXDEV), a link on the
// way or at the end too (ELOOP or ENOTDIR). Returns a close-on-exec descriptor, or -1 with
// errno set. `mode` counts only with O_CREAT.
inline int OpenBeneath(int directoryFd, std::string_view relative, int flags, mode_t mode = 0,
                       Resolution resolution = Resolution::Automatic) {
    if (detail::HasParentOrIsAbsolute(relative)) {
        errno = EXDEV;
        return -1;
    }
    if (resolution == Resolution::Automatic &&
        !detail::g_noOpenat2.load(std::memory_order_relaxed)) {
        const std::string path = relative.empty() ? "." : std::string(relative);
        const int fd = detail::OpenWithKernel(directoryFd, path, flags, mode);
        if (fd >= 0 || (errno != ENOSYS && errno != EPERM && errno != EAGAIN)) return fd;
        // Older kernels lack the call. Some sandboxes refuse it with EPERM, which an open of an
        // immutable file gives too: the walk then answers for this call alone, as it does after
        // repeated EAGAIN (with a lease held elsewhere, it fails EAGAIN once, at once).
        if (errno == ENOSYS) detail::g_noOpenat2.store(true, std::memory_order_relaxed);
    }
    return detail::OpenByWalking(directoryFd, relative, flags, mode);
}

}  // namespace beneath
