#include "PictureHold.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "platform/share_modes.h"
#include "winbase.h"

namespace nimbrel {
namespace {

std::atomic<int> g_heldPictures{0};

}  // namespace

PictureHold& PictureHold::operator=(PictureHold&& other) noexcept {
    if (this != &other) {
        Release();
        m_fd = std::move(other.m_fd);
    }
    return *this;
}

void PictureHold::Release() {
    if (!m_fd) return;
    m_fd.Reset();
    g_heldPictures.fetch_sub(1, std::memory_order_relaxed);
}

PictureHold PictureHold::Take(const std::string& root, const std::string& relative,
                              std::string* why) {
    PictureHold hold;
    const UniqueFd rootFd(OpenDirectory(root));
    if (!rootFd) {
        *why = std::string("the store cannot be opened: ") + std::strerror(errno);
        return hold;
    }
    // O_NONBLOCK: a FIFO under a picture's name must not stall the caller.
    UniqueFd file(OpenBeneath(rootFd.Get(), relative, O_RDWR | O_NOCTTY | O_NONBLOCK));
    if (!file) {
        if (errno == EAGAIN)
            *why = "another process holds a lease on the stored file";
        else if (errno != ENOENT)
            *why = std::string("the stored file cannot be opened for writing: ") +
                   std::strerror(errno);
        return hold;
    }
    // A place among the held pictures is taken before the open is recorded: it is counted from
    // here on, and given back by Release() if the hold is not made after all.
    if (g_heldPictures.fetch_add(1, std::memory_order_relaxed) >= kMaxHeldPictures) {
        g_heldPictures.fetch_sub(1, std::memory_order_relaxed);
        *why = "already " + std::to_string(kMaxHeldPictures) + " pictures are held";
        return hold;
    }
    hold.m_fd = std::move(file);
    if (!platform::JoinShareModes(hold.m_fd.Get(), platform::kShareAccessWrite,
                                  platform::kShareAllowRead | platform::kShareAllowWrite)) {
        const DWORD error = GetLastError();
        *why = error == ERROR_SHARING_VIOLATION ? "another open of the stored file denies writing"
               : error == ERROR_ACCESS_DENIED   ? "the stored file is read-only"
                                                : "the stored file is not a regular file";
        hold.Release();
        return hold;
    }
    return hold;
}

}  // namespace nimbrel
