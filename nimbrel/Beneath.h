// Opening the store's files without ever leaving the store: every name below a directory is
// resolved beneath it and no symbolic link is followed, neither on the way nor at the end, so
// that a name replaced by a link cannot make the library read, write or touch anything
// elsewhere. The text of a path alone cannot tell that.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

namespace nimbrel {

// How a name is resolved: by the kernel (openat2 with RESOLVE_BENEATH and RESOLVE_NO_SYMLINKS)
// where it offers that, else by a walk of O_NOFOLLOW opens, one component at a time. Walk
// forces the second, so that both can be tested.
enum class Resolution { Automatic, Walk };

// Opens `relative` ('/'-separated; "" or "." is the directory itself) beneath the directory
// behind `directoryFd`. Absolute names and ".." components are refused (EXDEV), a link on the
// way or at the end too (ELOOP or ENOTDIR). Returns a close-on-exec descriptor, or -1 with
// errno set. `mode` counts only with O_CREAT.
int OpenBeneath(int directoryFd, std::string_view relative, int flags, mode_t mode = 0,
                Resolution resolution = Resolution::Automatic);

// Opens a directory given by its full path, links in that path followed (the store root may
// well lie behind one), for use as the starting point of OpenBeneath. -1 with errno on failure.
int OpenDirectory(const std::string& path);

// The part of a '/'-separated path before its last component ("" when there is none), and the
// last component.
std::string_view ParentOf(std::string_view relative);
std::string_view NameOf(std::string_view relative);

// Owns one descriptor and closes it.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : m_fd(fd) {}
    ~UniqueFd() { Reset(); }
    UniqueFd(UniqueFd&& other) noexcept : m_fd(other.Release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept;
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int Get() const { return m_fd; }
    explicit operator bool() const { return m_fd >= 0; }
    int Release();
    void Reset(int fd = -1);

private:
    int m_fd = -1;
};

}  // namespace nimbrel
