#include "TransferLock.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cstdint>

#include "TempFiles.h"
#include "TransferLockLayout.h"

namespace nimbrel {
namespace {

bool HeldByOthers(int fd, off_t byte, off_t count) {
    struct flock probe = {};
    probe.l_type = F_WRLCK;
    probe.l_whence = SEEK_SET;
    probe.l_start = byte;
    probe.l_len = count;
    return ::fcntl(fd, F_OFD_GETLK, &probe) == 0 && probe.l_type != F_UNLCK;
}

bool Lock(int fd, off_t byte) {
    struct flock lock = {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = byte;
    lock.l_len = 1;
    return ::fcntl(fd, F_OFD_SETLK, &lock) == 0;
}

}  // namespace

TransferLock::State TransferLock::TryTake(int directoryFd, std::string_view name, bool refresh) {
    m_file.Reset(
        OpenBeneath(directoryFd, kLockFileName, O_RDWR | O_CREAT | O_NOCTTY | O_NONBLOCK, 0666));
    struct stat info {};
    if (!m_file || ::fstat(m_file.Get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        m_file.Reset();
        return State::unavailable;
    }
    m_fetchByte = static_cast<off_t>(FetchByteOf(name));
    m_refresh = refresh;
    const off_t own = m_fetchByte + (refresh ? 1 : 0);
    if (!OtherStillRuns() && Lock(m_file.Get(), own)) return State::taken;
    if (OtherStillRuns()) return State::busy;
    m_file.Reset();  // the file system keeps no such locks
    return State::unavailable;
}

bool TransferLock::OtherStillRuns() const {
    if (!m_file) return false;
    // A refresh is served by any transfer of the picture; a fetch only by another fetch.
    return HeldByOthers(m_file.Get(), m_fetchByte, m_refresh ? 2 : 1);
}

}  // namespace nimbrel
