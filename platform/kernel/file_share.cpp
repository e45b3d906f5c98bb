// The original platform's share-mode rule, on POSIX open file description locks.
//
// Scheme: every open made through ShareOpen is its own open file description, and it records
// what it does and what it denies as shared (read) OFD locks on four reserved bytes far beyond
// any real data: one byte for "reads", one for "writes", one for "denies reading" and one for
// "denies writing". A new open is refused when a byte it must not meet is locked by any other
// description: its read access meets "denies reading", its write access "denies writing", its
// denial of reading meets "reads", its denial of writing "writes". Testing the bytes and
// taking its own is made atomic by an exclusive flock() on the same file (the guard), which
// is independent of the OFD byte locks on a local file system. Where flock() is emulated with
// byte-range locks (NFS), the guard meets other opens' slots, which a transfer may hold for
// minutes: it is therefore only tried for a moment, and a check-and-take that cannot have it
// goes on without it (the test still runs, only not atomically). OFD locks belong to the open file
// description, so they hold between two opens of one process as between two processes, and the
// kernel drops them when the description is closed, whatever way the holder ends.
#include "internal/file_share.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

#include "internal/missing_files.h"
#include "platform/share_modes.h"
#include "winbase.h"
#include "winfile.h"

namespace platform::internal {
namespace {

constexpr off_t kShareBytes = off_t(1) << 62;  // far beyond any file this layer writes
// In this order so that the usual opens touch adjacent bytes: a read that denies writing takes
// the first two and tests the last two, an exclusive open tests and takes all four, one call
// each.
enum ShareSlot : off_t {
    kSlotReads = 0,
    kSlotDeniesWrite = 1,
    kSlotWrites = 2,
    kSlotDeniesRead = 3
};
constexpr off_t kSlotCount = 4;

// The guard is held for a few system calls at a time: a short wait covers another open's
// check-and-take, and bounds the wait where something else holds it.
constexpr int kGuardAttempts = 20;
constexpr long kGuardPauseNanoseconds = 500000;  // 0.5 ms between attempts

constexpr int64_t kFileTimeUnixEpoch = 116444736000000000LL;  // 1970-01-01 in 100 ns units
constexpr int64_t kFileTimeTicksPerSecond = 10000000LL;
constexpr int64_t kNanosecondsPerSecond = 1000000000LL;

// Each slot as one bit of a set, so that adjacent slots are tested or taken with one call.
constexpr unsigned Bit(ShareSlot slot) {
    return 1u << slot;
}

// Calls visit(first, count) for each run of adjacent slots in the set.
template <typename Visit>
bool ForEachRun(unsigned slots, Visit visit) {
    for (off_t first = 0; first < kSlotCount;) {
        if (!(slots & (1u << first))) {
            ++first;
            continue;
        }
        off_t count = 1;
        while (first + count < kSlotCount && (slots & (1u << (first + count)))) ++count;
        if (!visit(first, count)) return false;
        first += count;
    }
    return true;
}

// A file system without OFD locks makes every test answer "free": share modes then go
// unenforced rather than every open failing.
bool RangeHeldByOthers(int fd, off_t first, off_t count) {
    struct flock probe = {};
    probe.l_type = F_WRLCK;
    probe.l_whence = SEEK_SET;
    probe.l_start = kShareBytes + first;
    probe.l_len = count;
    if (fcntl(fd, F_OFD_GETLK, &probe) != 0) return false;
    return probe.l_type != F_UNLCK;
}

bool TakeRange(int fd, off_t first, off_t count) {
    struct flock lock = {};
    lock.l_type = F_RDLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = kShareBytes + first;
    lock.l_len = count;
    if (fcntl(fd, F_OFD_SETLK, &lock) == 0) return true;
    return errno == EINVAL || errno == ENOLCK;  // no lock support: see RangeHeldByOthers
}

bool ShareRuleAllows(int fd, unsigned access, unsigned share) {
    unsigned met = 0;  // the slots this open must not meet
    if (access & kAccessRead) met |= Bit(kSlotDeniesRead);
    if (access & kAccessWrite) met |= Bit(kSlotDeniesWrite);
    if (!(share & kShareRead)) met |= Bit(kSlotReads);
    if (!(share & kShareWrite)) met |= Bit(kSlotWrites);
    return ForEachRun(
        met, [fd](off_t first, off_t count) { return !RangeHeldByOthers(fd, first, count); });
}

bool TakeShareSlots(int fd, unsigned access, unsigned share) {
    unsigned own = 0;
    if (access & kAccessRead) own |= Bit(kSlotReads);
    if (access & kAccessWrite) own |= Bit(kSlotWrites);
    if (!(share & kShareRead)) own |= Bit(kSlotDeniesRead);
    if (!(share & kShareWrite)) own |= Bit(kSlotDeniesWrite);
    return ForEachRun(own, [fd](off_t first, off_t count) { return TakeRange(fd, first, count); });
}

void ReleaseShareSlots(int fd) {
    struct flock lock = {};
    lock.l_type = F_UNLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = kShareBytes;
    lock.l_len = kSlotCount;
    fcntl(fd, F_OFD_SETLK, &lock);
}

int64_t FileTimeFrom(const struct statx_timestamp& t) {
    return (static_cast<int64_t>(t.tv_sec) * kFileTimeTicksPerSecond) + t.tv_nsec / 100 +
           kFileTimeUnixEpoch;
}

void FillStatus(const struct statx& sx, FileStatus* status) {
    status->isDirectory = S_ISDIR(sx.stx_mode);
    status->isSymbolicLink = S_ISLNK(sx.stx_mode);
    status->readOnly = !(sx.stx_mode & S_IWUSR);
    status->size = sx.stx_size;
    status->creation = FileTimeFrom((sx.stx_mask & STATX_BTIME) ? sx.stx_btime : sx.stx_ctime);
    status->lastWrite = FileTimeFrom(sx.stx_mtime);
    status->lastAccess = FileTimeFrom(sx.stx_atime);
    status->device = makedev(sx.stx_dev_major, sx.stx_dev_minor);
    status->inode = sx.stx_ino;
    status->lastWriteNanoseconds =
        sx.stx_mtime.tv_sec * kNanosecondsPerSecond + sx.stx_mtime.tv_nsec;
}

constexpr unsigned kStatxMask = STATX_TYPE | STATX_MODE | STATX_SIZE | STATX_MTIME | STATX_ATIME |
                                STATX_CTIME | STATX_BTIME | STATX_INO;

}  // namespace

bool LockShareGuard(int fd) {
    for (int attempt = 0; attempt < kGuardAttempts; ++attempt) {
        if (flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
        if (errno != EWOULDBLOCK && errno != EINTR) return false;
        const timespec pause = {0, kGuardPauseNanoseconds};
        nanosleep(&pause, nullptr);
    }
    return false;
}

void UnlockShareGuard(int fd) {
    flock(fd, LOCK_UN);
}

bool ShareHeldByOthers(int fd) {
    return RangeHeldByOthers(fd, 0, kSlotCount);
}

int ShareOpen(const std::string& posixPath, unsigned access, unsigned share,
              Disposition disposition, DWORD* error, const KnownPath* known) {
    DWORD ignored = 0;
    if (error == nullptr) error = &ignored;
    if (posixPath.empty()) {
        *error = ERROR_PATH_NOT_FOUND;
        return -1;
    }
    // What the memo knows spares the look: a missing entry, or a regular file opened to read
    // (only a write needs its mode).
    const EntryKind kind = known != nullptr ? known->kind : EntryKind::Unknown;
    const bool looked =
        kind == EntryKind::Missing || (kind == EntryKind::RegularFile && !(access & kAccessWrite));
    struct stat st;
    if (!looked && stat(posixPath.c_str(), &st) == 0) {
        if (!S_ISREG(st.st_mode)) {  // a directory, pipe, device or socket is not opened
            *error = ERROR_ACCESS_DENIED;
            return -1;
        }
        // The read-only attribute refuses writing even to a user the kernel would let through.
        if ((access & kAccessWrite) && !(st.st_mode & S_IWUSR)) {
            *error = ERROR_ACCESS_DENIED;
            return -1;
        }
    }
    // The share slots are read locks, which need a readable descriptor: a write-only open
    // therefore also asks for read access to the file (a file its owner may write but not
    // read cannot be opened here). Without O_NONBLOCK the open of a pipe put there since the
    // test above would wait for a writer for good; the flag goes once the file is known to be
    // a regular one.
    int flags = O_CLOEXEC | O_NOCTTY | O_NONBLOCK | ((access & kAccessWrite) ? O_RDWR : O_RDONLY);
    if (disposition != Disposition::OpenExisting) flags |= O_CREAT;
    // Reading leaves the access time alone: its update is a journal write, which waits behind
    // another program's writing to the same file system. Only the owner may ask for that.
    if (!(access & kAccessWrite)) flags |= O_NOATIME;
    bool refusedLink = false;
    int fd = OpenFile(posixPath, flags, 0666, &refusedLink, known);
    if (fd < 0 && errno == EPERM && (flags & O_NOATIME)) {
        flags &= ~O_NOATIME;
        fd = OpenFile(posixPath, flags, 0666, &refusedLink, known);
    }
    if (fd < 0) {
        *error = refusedLink ? ERROR_ACCESS_DENIED : Win32ErrorFromErrno(errno, posixPath);
        return -1;
    }
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
        fcntl(fd, F_SETFL, flags & O_NOATIME) != 0) {  // drops O_NONBLOCK, keeps O_NOATIME
        close(fd);
        *error = ERROR_ACCESS_DENIED;
        return -1;
    }
    const bool guarded = LockShareGuard(fd);
    const bool granted = ShareRuleAllows(fd, access, share) && TakeShareSlots(fd, access, share);
    if (guarded) UnlockShareGuard(fd);
    if (!granted) {
        close(fd);
        *error = ERROR_SHARING_VIOLATION;
        return -1;
    }
    if (disposition == Disposition::CreateAlways && ftruncate(fd, 0) != 0) {
        *error = Win32ErrorFromErrno(errno, posixPath);
        close(fd);
        return -1;
    }
    *error = ERROR_SUCCESS;
    return fd;
}

DWORD Win32ErrorFromErrno(int err, const std::string& posixPath) {
    switch (err) {
        case 0:
            return ERROR_SUCCESS;
        case ENOENT: {
            const size_t slash = posixPath.find_last_of('/');
            std::string parent = slash == std::string::npos ? "." : posixPath.substr(0, slash);
            if (parent.empty()) parent = "/";
            struct stat st;
            return (stat(parent.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) ? ERROR_FILE_NOT_FOUND
                                                                           : ERROR_PATH_NOT_FOUND;
        }
        case ENOTDIR:
        case ELOOP:
            return ERROR_PATH_NOT_FOUND;
        case EACCES:
        case EPERM:
        case EISDIR:
        case EROFS:
        case ETXTBSY:
            return ERROR_ACCESS_DENIED;
        case EEXIST:
            return ERROR_ALREADY_EXISTS;
        case ENOTEMPTY:
            return ERROR_DIR_NOT_EMPTY;
        case EMFILE:
        case ENFILE:
            return ERROR_TOO_MANY_OPEN_FILES;
        case ENOSPC:
        case EDQUOT:
        case EFBIG:
            return ERROR_DISK_FULL;
        case ENAMETOOLONG:
            return ERROR_FILENAME_EXCED_RANGE;
        case ENOMEM:
            return ERROR_NOT_ENOUGH_MEMORY;
        case EBADF:
            return ERROR_INVALID_HANDLE;
        case EINVAL:
            return ERROR_INVALID_PARAMETER;
        case EAGAIN:
            return ERROR_LOCK_VIOLATION;
        default:
            return ERROR_READ_FAULT;
    }
}

bool GetFileStatus(const std::string& posixPath, FileStatus* status, int* err) {
    struct statx sx;
    if (posixPath.empty() || statx(AT_FDCWD, posixPath.c_str(), 0, kStatxMask, &sx) != 0) {
        if (err) *err = posixPath.empty() ? ENOENT : errno;
        return false;
    }
    FillStatus(sx, status);
    return true;
}

bool GetFileStatus(int fd, FileStatus* status, int* err) {
    struct statx sx;
    if (statx(fd, "", AT_EMPTY_PATH, kStatxMask, &sx) != 0) {
        if (err) *err = errno;
        return false;
    }
    FillStatus(sx, status);
    return true;
}

bool GetEntryStatus(int directoryFd, const std::string& name, FileStatus* status, int* err) {
    struct statx sx;
    if (statx(directoryFd, name.c_str(), AT_SYMLINK_NOFOLLOW, kStatxMask, &sx) != 0) {
        if (err) *err = errno;
        return false;
    }
    FillStatus(sx, status);
    return true;
}

DWORD AttributesOf(const FileStatus& status) {
    DWORD attributes = 0;
    if (status.isDirectory) attributes |= FILE_ATTRIBUTE_DIRECTORY;
    if (status.readOnly && !status.isDirectory) attributes |= FILE_ATTRIBUTE_READONLY;
    return attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes;
}

FILETIME ToFileTime(int64_t value) {
    FILETIME time;
    time.dwLowDateTime = static_cast<DWORD>(static_cast<uint64_t>(value) & 0xFFFFFFFFu);
    time.dwHighDateTime = static_cast<DWORD>(static_cast<uint64_t>(value) >> 32);
    return time;
}

int64_t FromFileTime(const FILETIME& time) {
    return static_cast<int64_t>((static_cast<uint64_t>(time.dwHighDateTime) << 32) |
                                time.dwLowDateTime);
}

int64_t UnixSecondsFromFileTime(int64_t value) {
    const int64_t ticks = value - kFileTimeUnixEpoch;
    int64_t seconds = ticks / kFileTimeTicksPerSecond;
    if (ticks % kFileTimeTicksPerSecond < 0) --seconds;
    return seconds;
}

}  // namespace platform::internal

namespace platform {

static_assert(kShareAccessRead == internal::kAccessRead &&
              kShareAccessWrite == internal::kAccessWrite);
static_assert(kShareAllowRead == internal::kShareRead && kShareAllowWrite == internal::kShareWrite);

BOOL JoinShareModes(int fd, unsigned access, unsigned allowed) {
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if ((access & kShareAccessWrite) && !(st.st_mode & S_IWUSR)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    const bool guarded = internal::LockShareGuard(fd);
    const bool granted = internal::ShareRuleAllows(fd, access, allowed) &&
                         internal::TakeShareSlots(fd, access, allowed);
    if (!granted) internal::ReleaseShareSlots(fd);  // a partial record must not stay behind
    if (guarded) internal::UnlockShareGuard(fd);
    if (!granted) {
        SetLastError(ERROR_SHARING_VIOLATION);
        return FALSE;
    }
    return TRUE;
}

}  // namespace platform
