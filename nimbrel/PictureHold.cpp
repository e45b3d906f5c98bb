#include "PictureHold.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "platform/share_modes.h"
#include "winbase.h"

namespace nimbrel {

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
        if (errno != ENOENT)
            *why = std::string("the stored file cannot be opened for writing: ") +
                   std::strerror(errno);
        return hold;
    }
    if (!platform::JoinShareModes(file.Get(), platform::kShareAccessWrite,
                                  platform::kShareAllowRead | platform::kShareAllowWrite)) {
        const DWORD error = GetLastError();
        *why = error == ERROR_SHARING_VIOLATION ? "another open of the stored file denies writing"
               : error == ERROR_ACCESS_DENIED   ? "the stored file is read-only"
                                                : "the stored file is not a regular file";
        return hold;
    }
    hold.m_fd = std::move(file);
    return hold;
}

}  // namespace nimbrel
