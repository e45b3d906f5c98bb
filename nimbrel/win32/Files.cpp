// The Windows side of the store's files (StoreFiles.h): CreateFileW beneath the store root with
// FILE_FLAG_OPEN_REPARSE_POINT, CREATE_NEW temporaries, FlushFileBuffers and MoveFileExW, the
// validators' side file, SetFileTime and LockFileEx.
#include <algorithm>
#include <atomic>
#include <cstdio>

#include "AvatarStoreNames.h"
#include "PictureHold.h"
#include "StoreFiles.h"
#include "TempFiles.h"
#include "TransferLock.h"
#include "TransferLockLayout.h"

namespace nimbrel {
namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// Directories on the way stay open without sharing deletion: none can be renamed or replaced.
constexpr DWORD kShareAllButDelete = FILE_SHARE_READ | FILE_SHARE_WRITE;
// Two lines of at most kMaxValidatorBytes each, then the digest's line.
constexpr DWORD kMaxDigestBytes = 64;
constexpr DWORD kMaxSideFileBytes = 2 * (kMaxValidatorBytes + 1) + kMaxDigestBytes;
constexpr DWORD kDigestChunkBytes = 64 * 1024;
// How long a replace is retried while a reader holds the picture open, and how often.
constexpr DWORD kReplaceRetryMs = 10 * 1000;
constexpr DWORD kReplaceRetryStepMs = 50;
constexpr unsigned long long kDigestSeed = 14695981039346656037ULL;  // FNV-1a

std::atomic<long long> g_fullDiskAt{-1};

// The length and an FNV-1a digest of a picture's bytes, as text.
class ContentDigest {
public:
    explicit ContentDigest(unsigned long long length = 0, unsigned long long hash = kDigestSeed)
        : m_length(length), m_hash(hash) {}
    void Add(std::string_view data) {
        for (char ch : data) {
            m_hash ^= static_cast<unsigned char>(ch);
            m_hash *= 1099511628211ULL;
        }
        m_length += data.size();
    }
    unsigned long long Hash() const { return m_hash; }
    std::string Text() const {
        char text[kMaxDigestBytes];
        std::snprintf(text, sizeof text, "%llu %016llx", m_length, m_hash);
        return text;
    }

private:
    unsigned long long m_length;
    unsigned long long m_hash;
};

std::vector<std::string_view> Components(std::string_view relative) {
    std::vector<std::string_view> parts;
    size_t start = 0;
    while (start <= relative.size()) {
        const size_t end = std::min(relative.find('/', start), relative.size());
        const std::string_view part = relative.substr(start, end - start);
        if (!part.empty() && part != ".") parts.push_back(part);
        start = end + 1;
    }
    return parts;
}

// The handle's attributes, or INVALID_FILE_ATTRIBUTES when they cannot be told.
DWORD AttributesOf(HANDLE file) {
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (!::GetFileInformationByHandleEx(file, FileAttributeTagInfo, &tag, sizeof tag))
        return INVALID_FILE_ATTRIBUTES;
    return tag.FileAttributes;
}

// What cannot be told apart counts as a reparse point, and is refused.
bool IsReparsePoint(DWORD attributes) {
    return attributes == INVALID_FILE_ATTRIBUTES ||
           (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

bool IsDirectory(DWORD attributes) {
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// The store's root as a Windows path that ends in a backslash.
std::wstring StorePath(const std::string& root) {
    std::wstring path = Widen(root);
    std::replace(path.begin(), path.end(), L'/', L'\\');
    if (path.empty() || path.back() != L'\\') path += L'\\';
    return path;
}

UniqueHandle OpenDirectoryAt(const std::wstring& path, DWORD flags) {
    return UniqueHandle(::CreateFileW(path.c_str(), GENERIC_READ, kShareAllButDelete, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | flags, nullptr));
}

ULONGLONG Combine(DWORD high, DWORD low) {
    return (static_cast<ULONGLONG>(high) << 32) | low;
}

ULONGLONG Combine(const FILETIME& time) {
    return Combine(time.dwHighDateTime, time.dwLowDateTime);
}

bool ReadSmallFile(HANDLE file, std::string* content) {
    char buffer[kMaxSideFileBytes + 1];
    DWORD total = 0;
    for (;;) {
        DWORD read = 0;
        if (!::ReadFile(file, buffer + total, sizeof buffer - total, &read, nullptr)) return false;
        if (read == 0) break;
        total += read;
        if (total == sizeof buffer) return false;  // longer than any kept validators
    }
    content->assign(buffer, total);
    return true;
}

bool WriteAll(HANDLE file, const char* data, size_t length) {
    while (length > 0) {
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(length, 1 << 30));
        DWORD written = 0;
        if (!::WriteFile(file, data, chunk, &written, nullptr) || written == 0) return false;
        data += written;
        length -= written;
    }
    return true;
}

// True only when the name is known to be free: its directory is there and holds nothing of it.
bool IsMissing(const std::string& root, const std::string& relative) {
    std::wstring path = StorePath(root) + Widen(relative);
    std::replace(path.begin(), path.end(), L'/', L'\\');
    return ::GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES &&
           ::GetLastError() == ERROR_FILE_NOT_FOUND;
}

}  // namespace

std::string LastErrorText() {
    return ErrorText(::GetLastError());
}

void SimulateFullDisk(long long bytes) {
    g_fullDiskAt.store(bytes);
}

bool PictureDirectory::Open(const std::string& root, std::string_view relative, std::string* why) {
    m_chain.clear();
    std::wstring path = StorePath(root);
    UniqueHandle directory = OpenDirectoryAt(path, 0);
    if (!directory || !IsDirectory(AttributesOf(directory.Get()))) {
        *why = "the store cannot be opened: " + ErrorText(::GetLastError());
        return false;
    }
    m_chain.push_back(std::move(directory));
    for (std::string_view part : Components(relative)) {
        if (part == "..") {
            *why = "its path climbs out of the store";
            return false;
        }
        path += Widen(part);
        directory = OpenDirectoryAt(path, FILE_FLAG_OPEN_REPARSE_POINT);
        if (!directory) {
            *why = "its directory cannot be opened: " + ErrorText(::GetLastError());
            return false;
        }
        const DWORD attributes = AttributesOf(directory.Get());
        if (IsReparsePoint(attributes) || !IsDirectory(attributes)) {
            *why = "its directory is reached through a link or reparse point";
            return false;
        }
        m_chain.push_back(std::move(directory));
        path += L'\\';
    }
    m_path = path;
    return true;
}

std::wstring PictureDirectory::PathOf(std::string_view name) const {
    return m_path + Widen(name);
}

UniqueHandle PictureDirectory::OpenFile(std::string_view name, DWORD access, DWORD share,
                                        DWORD disposition, DWORD attributes) const {
    UniqueHandle file(::CreateFileW(PathOf(name).c_str(), access, share, nullptr, disposition,
                                    attributes | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file) return file;
    const DWORD found = AttributesOf(file.Get());
    if (IsReparsePoint(found)) {
        file.Reset();
        ::SetLastError(ERROR_CANT_ACCESS_FILE);
    } else if (IsDirectory(found)) {
        file.Reset();
        ::SetLastError(ERROR_ACCESS_DENIED);
    }
    return file;
}

PictureDirectory::StoredState PictureDirectory::Examine(std::string_view name) const {
    StoredState state;
    // Attributes only: no open of another process denies that.
    UniqueHandle file(
        ::CreateFileW(PathOf(name).c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                      FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION info{};
    FILE_BASIC_INFO basic{};
    if (!file || !::GetFileInformationByHandle(file.Get(), &info) ||
        !::GetFileInformationByHandleEx(file.Get(), FileBasicInfo, &basic, sizeof basic))
        return state;
    state.present = true;
    state.device = info.dwVolumeSerialNumber;
    state.index = Combine(info.nFileIndexHigh, info.nFileIndexLow);
    state.modified = Combine(info.ftLastWriteTime);
    state.changed = static_cast<ULONGLONG>(basic.ChangeTime.QuadPart);
    state.size = Combine(info.nFileSizeHigh, info.nFileSizeLow);
    return state;
}

Validators PictureDirectory::ReadValidators(std::string_view name) const {
    const UniqueHandle file = OpenFile(AvatarStoreNames::ValidatorsFileName(name), GENERIC_READ,
                                       kShareAll, OPEN_EXISTING);
    std::string content;
    if (!file || !ReadSmallFile(file.Get(), &content)) return {};
    // The ETag, Last-Modified (either may be empty) and the picture's digest, one to a line.
    std::vector<std::string> lines;
    for (size_t start = 0, end; (end = content.find('\n', start)) != std::string::npos;
         start = end + 1)
        lines.push_back(content.substr(start, end - start));
    if (lines.size() != 3 || lines[2].empty() || lines[2] != DigestOf(name)) return {};
    Validators validators{lines[0], lines[1]};
    if (!IsUsableValidator(validators.etag)) validators.etag.clear();
    if (!IsUsableValidator(validators.lastModified)) validators.lastModified.clear();
    return validators;
}

bool PictureDirectory::WriteValidators(std::string_view name, const Validators& validators,
                                       const std::string& digest) const {
    if (validators.Empty() || digest.empty()) {
        // A reader shares deletion: the name goes at once, the file at the reader's close.
        if (::DeleteFileW(PathOf(AvatarStoreNames::ValidatorsFileName(name)).c_str())) return true;
        return ::GetLastError() == ERROR_FILE_NOT_FOUND;
    }
    // Written aside and moved into place, as a picture is: a reader sees the old set or the
    // new one, never half of one.
    TempFile temp(*this);
    std::string why;
    const std::string content =
        validators.etag + '\n' + validators.lastModified + '\n' + digest + '\n';
    return temp.Create(&why) && temp.Write(content.data(), content.size()) && temp.Sync() &&
           temp.PlaceAs(AvatarStoreNames::ValidatorsFileName(name));
}

std::string PictureDirectory::DigestOf(std::string_view name) const {
    const UniqueHandle file = OpenFile(name, GENERIC_READ, kShareAll, OPEN_EXISTING);
    if (!file) return "";
    ContentDigest digest;
    std::vector<char> buffer(kDigestChunkBytes);
    for (;;) {
        DWORD read = 0;
        if (!::ReadFile(file.Get(), buffer.data(), kDigestChunkBytes, &read, nullptr)) return "";
        if (read == 0) return digest.Text();
        digest.Add(std::string_view(buffer.data(), read));
    }
}

namespace {

// Repeats `step` while it fails because a reader holds the picture open, for a bounded time.
// False with the last error set.
template <typename Step>
bool RetryWhileOpen(Step step) {
    const DWORD start = ::GetTickCount();
    for (;;) {
        if (step()) return true;
        const DWORD error = ::GetLastError();
        const bool held = error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION;
        if (!held || ::GetTickCount() - start >= kReplaceRetryMs) {
            ::SetLastError(error);
            return false;
        }
        ::Sleep(kReplaceRetryStepMs);
    }
}

// Moves `from` over `to`, flushing the move to the disk, retrying while a reader holds `to`
// open: no open file is replaced. False with the last error set.
bool Replace(const std::wstring& source, const std::wstring& target) {
    return RetryWhileOpen([&] {
        return ::MoveFileExW(source.c_str(), target.c_str(),
                             MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
    });
}

// Renames the file open as `file` (with DELETE access) to the full path `target`, which it
// replaces when `replace` is set. Every other open of it must share deletion; a reader that
// does not makes it fail until it lets go.
bool RenameOpen(HANDLE file, const std::wstring& target, bool replace) {
    const size_t bytes = target.size() * sizeof(wchar_t);
    std::vector<char> buffer(sizeof(FILE_RENAME_INFO) + bytes);
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    rename->ReplaceIfExists = replace;
    rename->RootDirectory = nullptr;
    rename->FileNameLength = static_cast<DWORD>(bytes);
    std::copy(target.begin(), target.end(), rename->FileName);
    rename->FileName[target.size()] = L'\0';
    return ::SetFileInformationByHandle(file, FileRenameInfo, rename,
                                        static_cast<DWORD>(buffer.size())) != 0;
}

}  // namespace

void PictureDirectory::FinishReplace(std::string_view name) const {
    // TempFile::PlaceAs sets the held picture aside, moves the new one into its name, then
    // deletes the old one. A process that ended after the first step left the name missing:
    // the old picture comes back, as its temporary with the new body is lost. One that ended
    // after the second left the new picture whole in place: the old one goes. Either way the
    // picture is the old one or the whole new one, never missing while a copy lies aside.
    const std::wstring aside = PathOf(AvatarStoreNames::SetAsideFileName(name));
    if (::MoveFileExW(aside.c_str(), PathOf(name).c_str(), MOVEFILE_WRITE_THROUGH)) return;
    const DWORD error = ::GetLastError();
    if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS) ::DeleteFileW(aside.c_str());
}

void PictureDirectory::RemoveStaleTempFiles() const {
    FILETIME now{};
    ::GetSystemTimeAsFileTime(&now);
    constexpr ULONGLONG kTicksPerSecond = 10'000'000;
    const ULONGLONG maxAge =
        static_cast<ULONGLONG>(std::chrono::seconds(kStaleTempAge).count()) * kTicksPerSecond;
    WIN32_FIND_DATAW found{};
    const std::wstring pattern = m_path + Widen(kTempPrefix) + L"*" + Widen(kTempSuffix);
    HANDLE search = ::FindFirstFileW(pattern.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        if ((found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ||
            Combine(now) - Combine(found.ftLastWriteTime) <= maxAge)
            continue;
        ::DeleteFileW((m_path + found.cFileName).c_str());
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
}

void PictureDirectory::Sync() const {}

bool TempFile::Create(std::string* why) {
    for (int attempt = 0; attempt < 4 && !m_file; ++attempt) {
        m_name = MakeTempName();
        // Shared with nobody: nothing reads a body before it is complete.
        m_file = m_directory.OpenFile(m_name, GENERIC_WRITE, 0, CREATE_NEW);
    }
    if (m_file) {
        m_hash = kDigestSeed;
        return true;
    }
    *why = "no temporary file can be created beside it: " + LastErrorText();
    m_name.clear();
    return false;
}

bool TempFile::Write(const char* data, size_t length) {
    const long long full = g_fullDiskAt.load();
    if (full >= 0 && m_written + static_cast<long long>(length) > full) {
        ::SetLastError(ERROR_DISK_FULL);
        return false;
    }
    ContentDigest digest(0, m_hash);
    digest.Add(std::string_view(data, length));
    m_hash = digest.Hash();
    m_written += static_cast<long long>(length);
    return WriteAll(m_file.Get(), data, length);
}

bool TempFile::KeepValidators(const Validators& validators, std::string_view name) {
    // Bound to the new bytes and written first: until the picture is in place they count for
    // nothing, and a process that ends before it leaves them counting for nothing.
    const ContentDigest digest(static_cast<unsigned long long>(m_written), m_hash);
    return m_directory.WriteValidators(name, validators, digest.Text());
}

bool TempFile::Sync() {
    const bool flushed = ::FlushFileBuffers(m_file.Get()) != 0;
    const DWORD error = ::GetLastError();
    m_file.Reset();
    ::SetLastError(error);
    return flushed;
}

bool TempFile::PlaceAs(std::string_view name) {
    if (Replace(m_directory.PathOf(m_name), m_directory.PathOf(name))) {
        m_name.clear();
        return true;
    }
    const DWORD error = ::GetLastError();
    Discard();
    ::SetLastError(error);
    return false;
}

bool TempFile::PlaceAs(std::string_view name, HANDLE held) {
    if (held == INVALID_HANDLE_VALUE) return PlaceAs(name);
    // Were the hold let go of before the replace, a poll could find the old picture until the
    // new one is in, and take it for the new one. So the held picture leaves its name while
    // held, through an open of the same file with DELETE access (refused, and retried, while a
    // reader that does not share deletion has it open), and the name stays empty, never the
    // old picture, until the new one is moved in.
    const std::wstring aside = m_directory.PathOf(AvatarStoreNames::SetAsideFileName(name));
    UniqueHandle old;
    if (!RetryWhileOpen([&] {
            old = UniqueHandle(::ReOpenFile(held, DELETE, kShareAll, 0));
            return old && RenameOpen(old.Get(), aside, true);
        })) {
        const DWORD error = ::GetLastError();
        Discard();
        ::SetLastError(error);
        return false;
    }
    if (!PlaceAs(name)) {
        const DWORD error = ::GetLastError();
        // The old picture back; should that fail, FinishReplace brings it back.
        RenameOpen(old.Get(), m_directory.PathOf(name), false);
        ::SetLastError(error);
        return false;
    }
    // Deleted as the hold ends; by the system if this process ends first.
    FILE_DISPOSITION_INFO gone{TRUE};
    ::SetFileInformationByHandle(old.Get(), FileDispositionInfo, &gone, sizeof gone);
    return true;
}

void TempFile::Discard() {
    m_file.Reset();
    if (!m_name.empty()) {
        ::DeleteFileW(m_directory.PathOf(m_name).c_str());
        m_name.clear();
    }
}

StoredPicture::StoredPicture(const PictureDirectory& directory, std::string_view name,
                             const PictureHold& hold)
    : m_directory(directory), m_name(name), m_file(hold.File()) {
    if (hold) return;
    m_own = directory.OpenFile(name, FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, kShareAll,
                               OPEN_EXISTING);
    m_file = m_own.Get();
}

StoredPicture::operator bool() const {
    return m_file != INVALID_HANDLE_VALUE;
}

bool StoredPicture::MarkFresh() {
    FILETIME now{};
    ::GetSystemTimeAsFileTime(&now);
    return ::SetFileTime(m_file, nullptr, &now, &now) != 0;
}

Validators StoredPicture::ReadValidators() const {
    return m_directory.ReadValidators(m_name);
}

bool StoredPicture::WriteValidators(const Validators& validators) const {
    return m_directory.WriteValidators(m_name, validators, m_directory.DigestOf(m_name));
}

UniqueFile OpenPictureToHold(const std::string& root, const std::string& relative,
                             std::string* why) {
    // The caller's thread waits for this: a picture not stored, the usual case, is told by one
    // query of its name, without the opens of the directories on its way and of the file.
    if (IsMissing(root, relative)) {
        why->clear();
        return UniqueHandle();
    }
    PictureDirectory directory;
    if (!directory.Open(root, ParentOf(relative), why)) return UniqueHandle();
    UniqueHandle file = directory.OpenFile(NameOf(relative), GENERIC_READ | GENERIC_WRITE,
                                           kShareAll, OPEN_EXISTING);
    if (file) return file;
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_NOT_FOUND) {
        why->clear();
    } else if (error == ERROR_SHARING_VIOLATION) {
        *why = "another open of the stored file denies writing";
    } else if (error == ERROR_CANT_ACCESS_FILE) {
        *why = "the stored file is a link or reparse point";
    } else if (error == ERROR_ACCESS_DENIED) {
        *why = "the stored file is read-only or no regular file";
    } else {
        *why = "the stored file cannot be opened for writing: " + ErrorText(error);
    }
    return file;
}

bool RecordHold(NativeFile, std::string*) {
    return true;  // Windows counts every open against the share modes of the others
}

namespace {

OVERLAPPED At(ULONGLONG byte) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(byte);
    at.OffsetHigh = static_cast<DWORD>(byte >> 32);
    return at;
}

bool Lock(HANDLE file, ULONGLONG byte) {
    OVERLAPPED at = At(byte);
    return ::LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at);
}

void Unlock(HANDLE file, ULONGLONG byte) {
    OVERLAPPED at = At(byte);
    ::UnlockFileEx(file, 0, 1, 0, &at);
}

// Win32 has no test for a lock: a byte is held by another when this handle cannot lock it.
bool HeldByOthers(HANDLE file, ULONGLONG byte) {
    if (!Lock(file, byte)) return ::GetLastError() == ERROR_LOCK_VIOLATION;
    Unlock(file, byte);
    return false;
}

}  // namespace

TransferLock::State TransferLock::TryTake(const PictureDirectory& directory, std::string_view name,
                                          bool refresh) {
    m_file =
        directory.OpenFile(kLockFileName, GENERIC_READ | GENERIC_WRITE, kShareAll, OPEN_ALWAYS);
    if (!m_file) return State::unavailable;
    m_fetchByte = FetchByteOf(name);
    m_refresh = refresh;
    const ULONGLONG own = m_fetchByte + (refresh ? 1 : 0);
    if (!OtherStillRuns() && Lock(m_file.Get(), own)) return State::taken;
    if (::GetLastError() == ERROR_LOCK_VIOLATION || OtherStillRuns()) return State::busy;
    m_file.Reset();  // the file system keeps no such locks
    return State::unavailable;
}

bool TransferLock::OtherStillRuns() const {
    if (!m_file) return false;
    // A refresh is served by any transfer of the picture; a fetch only by another fetch.
    return HeldByOthers(m_file.Get(), m_fetchByte) ||
           (m_refresh && HeldByOthers(m_file.Get(), m_fetchByte + 1));
}

}  // namespace nimbrel
