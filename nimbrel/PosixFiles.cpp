// The POSIX side of the store's files (StoreFiles.h): openat2 beneath the store root, O_EXCL
// temporaries, fsync and renameat, extended attributes and open-file-description locks.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>

#include "PictureHold.h"
#include "StoreFiles.h"
#include "TempFiles.h"
#include "TransferLock.h"
#include "TransferLockLayout.h"
#include "platform/share_modes.h"
#include "winbase.h"

namespace nimbrel {
namespace {

constexpr char kEtagAttribute[] = "user.nimbrel.etag";
constexpr char kLastModifiedAttribute[] = "user.nimbrel.last-modified";

std::atomic<long long> g_fullDiskAt{-1};

uint64_t Nanoseconds(const timespec& time) {
    return static_cast<uint64_t>(time.tv_sec) * 1'000'000'000u +
           static_cast<uint64_t>(time.tv_nsec);
}

bool WriteAll(int fd, const char* data, size_t length) {
    while (length > 0) {
        const ssize_t written = ::write(fd, data, length);
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += written;
        length -= static_cast<size_t>(written);
    }
    return true;
}

std::string ReadAttribute(int fd, const char* name) {
    char value[kMaxValidatorBytes + 1];
    const ssize_t length = ::fgetxattr(fd, name, value, sizeof value);
    if (length <= 0) return "";
    const std::string text(value, static_cast<size_t>(length));
    return IsUsableValidator(text) ? text : "";
}

bool WriteAttribute(int fd, const char* name, const std::string& value) {
    if (value.empty()) return ::fremovexattr(fd, name) == 0 || errno == ENODATA;
    return ::fsetxattr(fd, name, value.data(), value.size(), 0) == 0;
}

Validators ReadAttributes(int fd) {
    return {ReadAttribute(fd, kEtagAttribute), ReadAttribute(fd, kLastModifiedAttribute)};
}

bool WriteAttributes(int fd, const Validators& validators) {
    const bool etag = WriteAttribute(fd, kEtagAttribute, validators.etag);
    const bool lastModified = WriteAttribute(fd, kLastModifiedAttribute, validators.lastModified);
    return etag && lastModified;
}

bool IsRegularFile(int fd) {
    struct stat info {};
    return ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
}

}  // namespace

std::string LastErrorText() {
    return std::strerror(errno);
}

void SimulateFullDisk(long long bytes) {
    g_fullDiskAt.store(bytes);
}

bool PictureDirectory::Open(const std::string& root, std::string_view relative, std::string* why) {
    const UniqueFd rootFd(OpenDirectory(root));
    if (rootFd) m_fd.Reset(OpenBeneath(rootFd.Get(), relative, O_RDONLY | O_DIRECTORY));
    if (m_fd) return true;
    *why = "its directory is missing or reached through a symbolic link (" + LastErrorText() + ")";
    return false;
}

PictureDirectory::StoredState PictureDirectory::Examine(std::string_view name) const {
    StoredState state;
    struct stat info {};
    if (::fstatat(m_fd.Get(), std::string(name).c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0)
        return state;
    state.present = true;
    state.device = info.st_dev;
    state.index = info.st_ino;
    state.modified = Nanoseconds(info.st_mtim);
    state.changed = Nanoseconds(info.st_ctim);
    state.size = static_cast<uint64_t>(info.st_size);
    return state;
}

void PictureDirectory::FinishReplace(std::string_view) const {}  // renameat sets nothing aside

void PictureDirectory::RemoveStaleTempFiles() const {
    // The listing gets a descriptor of its own; the directory's stays.
    const int listed = ::openat(m_fd.Get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (listed < 0) return;
    DIR* dir = ::fdopendir(listed);
    if (dir == nullptr) {
        ::close(listed);
        return;
    }
    const std::time_t now = std::time(nullptr);
    while (const dirent* entry = ::readdir(dir)) {
        if (!IsTempName(entry->d_name)) continue;
        struct stat info {};
        if (::fstatat(listed, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(info.st_mode) &&
            now - info.st_mtime > std::chrono::seconds(kStaleTempAge).count())
            ::unlinkat(listed, entry->d_name, 0);
    }
    ::closedir(dir);
}

void PictureDirectory::Sync() const {
    ::fsync(m_fd.Get());
}

bool TempFile::Create(std::string* why) {
    for (int attempt = 0; attempt < 4 && !m_file; ++attempt) {
        m_name = MakeTempName();
        m_file.Reset(::openat(m_directory.Fd(), m_name.c_str(),
                              O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
    }
    if (m_file) return true;
    *why = "no temporary file can be created beside it: " + LastErrorText();
    m_name.clear();
    return false;
}

bool TempFile::Write(const char* data, size_t length) {
    const long long full = g_fullDiskAt.load();
    if (full >= 0 && m_written + static_cast<long long>(length) > full) {
        errno = ENOSPC;
        return false;
    }
    m_written += static_cast<long long>(length);
    return WriteAll(m_file.Get(), data, length);
}

bool TempFile::KeepValidators(const Validators& validators, std::string_view) {
    return validators.Empty() || WriteAttributes(m_file.Get(), validators);
}

bool TempFile::Sync() {
    const bool synced = ::fsync(m_file.Get()) == 0;
    const bool closed = ::close(m_file.Release()) == 0;
    return synced && closed;
}

bool TempFile::PlaceAs(std::string_view name) {
    if (::renameat(m_directory.Fd(), m_name.c_str(), m_directory.Fd(), std::string(name).c_str()) ==
        0) {
        m_name.clear();
        return true;
    }
    const int error = errno;
    Discard();
    errno = error;
    return false;
}

bool TempFile::PlaceAs(std::string_view name, NativeFile) {
    return PlaceAs(name);  // renameat replaces an open file, the hold's too
}

void TempFile::Discard() {
    m_file.Reset();
    if (m_name.empty()) return;
    ::unlinkat(m_directory.Fd(), m_name.c_str(), 0);
    m_name.clear();
}

StoredPicture::StoredPicture(const PictureDirectory& directory, std::string_view name,
                             const PictureHold& hold)
    : m_directory(directory), m_name(name), m_file(hold.File()) {
    if (hold) return;
    m_own.Reset(OpenBeneath(directory.Fd(), m_name, O_RDONLY | O_NOCTTY | O_NONBLOCK));
    if (m_own && !IsRegularFile(m_own.Get())) m_own.Reset();
    m_file = m_own.Get();
}

StoredPicture::operator bool() const {
    return m_file >= 0;
}

bool StoredPicture::MarkFresh() {
    return ::futimens(m_file, nullptr) == 0;
}

Validators StoredPicture::ReadValidators() const {
    return ReadAttributes(m_file);
}

bool StoredPicture::WriteValidators(const Validators& validators) const {
    return WriteAttributes(m_file, validators);
}

UniqueFile OpenPictureToHold(const std::string& root, const std::string& relative,
                             std::string* why) {
    const UniqueFd rootFd(OpenDirectory(root));
    if (!rootFd) {
        *why = "the store cannot be opened: " + LastErrorText();
        return UniqueFd();
    }
    // O_NONBLOCK: a FIFO under a picture's name must not stall the caller.
    UniqueFd file(OpenBeneath(rootFd.Get(), relative, O_RDWR | O_NOCTTY | O_NONBLOCK));
    if (!file) {
        if (errno == EAGAIN)
            *why = "another process holds a lease on the stored file";
        else if (errno != ENOENT)
            *why = "the stored file cannot be opened for writing: " + LastErrorText();
    }
    return file;
}

bool RecordHold(NativeFile file, std::string* why) {
    if (platform::JoinShareModes(file, platform::kShareAccessWrite,
                                 platform::kShareAllowRead | platform::kShareAllowWrite))
        return true;
    const DWORD error = GetLastError();
    *why = error == ERROR_SHARING_VIOLATION ? "another open of the stored file denies writing"
           : error == ERROR_ACCESS_DENIED   ? "the stored file is read-only"
                                            : "the stored file is not a regular file";
    return false;
}

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

TransferLock::State TransferLock::TryTake(const PictureDirectory& directory, std::string_view name,
                                          bool refresh) {
    m_file.Reset(
        OpenBeneath(directory.Fd(), kLockFileName, O_RDWR | O_CREAT | O_NOCTTY | O_NONBLOCK, 0666));
    if (!m_file || !IsRegularFile(m_file.Get())) {
        m_file.Reset();
        return State::unavailable;
    }
    m_fetchByte = FetchByteOf(name);
    m_refresh = refresh;
    const off_t own = static_cast<off_t>(m_fetchByte + (refresh ? 1 : 0));
    if (!OtherStillRuns() && Lock(m_file.Get(), own)) return State::taken;
    if (OtherStillRuns()) return State::busy;
    m_file.Reset();  // the file system keeps no such locks
    return State::unavailable;
}

bool TransferLock::OtherStillRuns() const {
    if (!m_file) return false;
    // A refresh is served by any transfer of the picture; a fetch only by another fetch.
    return HeldByOthers(m_file.Get(), static_cast<off_t>(m_fetchByte), m_refresh ? 2 : 1);
}

}  // namespace nimbrel
