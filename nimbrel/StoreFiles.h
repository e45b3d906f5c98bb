// The store's files behind one small interface: what the store's rules (StoreTransfer.h) need of
// a file system, with a POSIX side (PosixFiles.cpp) and a Windows side (win32/Files.cpp).
//
// - Names beneath the store root: every directory from the root down to the picture's is reached
//   without following a link (openat2 RESOLVE_BENEATH|NO_SYMLINKS; on Windows each opened with
//   FILE_FLAG_OPEN_REPARSE_POINT, a reparse point refused, and kept open without sharing
//   deletion), and so is every file in it.
// - A body goes to a temporary file created exclusively beside the picture (O_EXCL, CREATE_NEW),
//   is made durable (fsync, FlushFileBuffers) and replaces the picture in one step (renameat;
//   MoveFileExW with write-through, retried for a bounded time while a reader holds the picture).
//   Windows replaces no open file, the hold's included: a held picture is first renamed aside
//   (AvatarStoreNames::SetAsideFileName) through a second open of the held file with DELETE
//   access (ReOpenFile), then the new one moved into its name, then the old one deleted through
//   that open, so that its name never shows the old picture once the hold has ended.
// - The validators: extended attributes of the picture on POSIX, set on the temporary before it
//   is synced, so that they and the picture change together; on Windows, whose file systems keep
//   no such attributes (and Wine no alternate streams), a side file beside the picture
//   (AvatarStoreNames::ValidatorsFileName) that names the picture it belongs to by its length and
//   a digest of its bytes: validators kept for other bytes count as none.
// - The transfer lock: one byte of the directory's lock file (TransferLockLayout.h), an OFD lock
//   on POSIX and LockFileEx on Windows, dropped by the system when its holder ends.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "Validators.h"

#ifdef _WIN32
#include <windows.h>

#include "Handles.h"
#else
#include "Beneath.h"
#endif

namespace nimbrel {

#ifdef _WIN32
using NativeFile = HANDLE;
using UniqueFile = UniqueHandle;
#else
using NativeFile = int;
using UniqueFile = UniqueFd;
#endif

// The part of a '/'-separated path before its last component ("" when there is none), and the
// last component.
inline std::string_view ParentOf(std::string_view relative) {
    const size_t slash = relative.rfind('/');
    return slash == std::string_view::npos ? std::string_view() : relative.substr(0, slash);
}
inline std::string_view NameOf(std::string_view relative) {
    const size_t slash = relative.rfind('/');
    return slash == std::string_view::npos ? relative : relative.substr(slash + 1);
}

// The system's wording of the error of the last file call that failed on this thread.
std::string LastErrorText();

// For tests: once set, a temporary file's write fails with the system's disk-full error
// (ENOSPC, ERROR_DISK_FULL) when the file would hold more than `bytes`; negative turns it off.
void SimulateFullDisk(long long bytes);

// The directory of one picture, reached beneath a root.
class PictureDirectory {
public:
    // Opens `root` (a full path; links on the way followed, as the store root may lie behind
    // one), then `relative` beneath it. False with the reason in `why`.
    bool Open(const std::string& root, std::string_view relative, std::string* why);

    // What tells the picture `name` apart from another put in its place or touched since.
    struct StoredState {
        bool present = false;
        uint64_t device = 0, index = 0, modified = 0, changed = 0, size = 0;
        bool operator==(const StoredState& other) const {
            return present == other.present && device == other.device && index == other.index &&
                   modified == other.modified && changed == other.changed && size == other.size;
        }
    };
    StoredState Examine(std::string_view name) const;
    // Ends a replace of `name` that a process left half done when it ended (TempFile::PlaceAs
    // with a hold, on Windows): the old picture set aside comes back when the name is missing,
    // and goes when the name holds the new one. Called with the transfer lock taken.
    void FinishReplace(std::string_view name) const;

    // Removes this library's temporary files older than kStaleTempAge.
    void RemoveStaleTempFiles() const;
    // Makes the replaces done in it last (on Windows each replace is written through already).
    void Sync() const;

#ifdef _WIN32
    // `name` in this directory, as a full path.
    std::wstring PathOf(std::string_view name) const;
    // Opens the file `name` without following a reparse point; refuses a reparse point
    // (ERROR_CANT_ACCESS_FILE) and a directory (ERROR_ACCESS_DENIED).
    UniqueHandle OpenFile(std::string_view name, DWORD access, DWORD share, DWORD disposition,
                          DWORD attributes = FILE_ATTRIBUTE_NORMAL) const;
    // The validators kept for `name` when they were kept for the bytes it now holds.
    Validators ReadValidators(std::string_view name) const;
    // Keeps them for the picture whose digest (ContentDigest) is `digest`, or removes them.
    bool WriteValidators(std::string_view name, const Validators& validators,
                         const std::string& digest) const;
    std::string DigestOf(std::string_view name) const;
#else
    int Fd() const {
        return m_fd.Get();
    }
#endif

private:
#ifdef _WIN32
    std::vector<UniqueHandle> m_chain;  // the root and every directory down to this one
    std::wstring m_path;                // ends with a backslash
#else
    UniqueFd m_fd;
#endif
};

// The library's temporary file beside a picture, removed by the destructor unless it has been
// put in place.
class TempFile {
public:
    explicit TempFile(const PictureDirectory& directory) : m_directory(directory) {}
    ~TempFile() { Discard(); }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    // Creates it exclusively under a fresh name; false with the reason in `why`.
    bool Create(std::string* why);
    // True while it is open for writing.
    explicit operator bool() const { return static_cast<bool>(m_file); }
    // False with the error set (LastErrorText).
    bool Write(const char* data, size_t length);
    // Keeps the validators for the picture `name` will be once this file is put in place.
    bool KeepValidators(const Validators& validators, std::string_view name);
    // Makes the bytes durable and closes the file; false with the error set.
    bool Sync();
    // Replaces the picture `name` by the synced file; false with the error set, and the file
    // then gone.
    bool PlaceAs(std::string_view name);
    // The same for a picture that `held` (PictureHold::File) holds open; a hold that ended is
    // given as PictureHold().File().
    bool PlaceAs(std::string_view name, NativeFile held);
    // Closes and removes it, unless it has been put in place.
    void Discard();

private:
    const PictureDirectory& m_directory;
    UniqueFile m_file;
    std::string m_name;
    long long m_written = 0;
#ifdef _WIN32
    unsigned long long m_hash = 0;  // of what was written, for the validators' side file
#endif
};

class PictureHold;

// The stored picture, for a refresh and a 304: the hold's file when there is one, else one
// opened of its own (none behind a link, none that is no regular file).
class StoredPicture {
public:
    StoredPicture(const PictureDirectory& directory, std::string_view name,
                  const PictureHold& hold);
    explicit operator bool() const;
    // Sets its modification time to now, as a picture written now would carry.
    bool MarkFresh();
    Validators ReadValidators() const;
    bool WriteValidators(const Validators& validators) const;

private:
    const PictureDirectory& m_directory;
    std::string m_name;
    UniqueFile m_own;
    NativeFile m_file;
};

// Opens the picture at `relative` beneath `root` for a hold: for reading and writing, sharing
// everything, never behind a link. Invalid with the reason in `why` (empty when it is missing).
UniqueFile OpenPictureToHold(const std::string& root, const std::string& relative,
                             std::string* why);
// Makes the hold's open count against the control's existence test in every process (Windows
// does that for every open itself). False with the reason in `why`.
bool RecordHold(NativeFile file, std::string* why);

}  // namespace nimbrel
