// The store's files on Windows: the same rules as the POSIX layer (Beneath, TempFiles,
// TransferLock, Validators and the file steps of Transfer) over Win32 calls.
//
// - Names beneath the store root: every directory from the root down to the picture's is
//   opened without following a reparse point (FILE_FLAG_OPEN_REPARSE_POINT) and refused when it
//   is one, and stays open without sharing deletion while the transfer runs, so that no name on
//   the way can be renamed or replaced meanwhile; files in it are opened the same way.
// - A body goes to a temporary file created CREATE_NEW beside the picture, is flushed, and
//   replaces the picture with MoveFileExW. Windows refuses to replace a file another process
//   holds open, as the control does while it loads a picture: the replace is retried for a
//   bounded time, the old picture staying whole and visible meanwhile.
// - The validators live in a side file beside the picture (AvatarStoreNames::ValidatorsFileName):
//   Windows file systems keep no user attributes, and Wine has no alternate data streams. The
//   two cannot be replaced together, so the side file names the picture it belongs to by its
//   length and a digest of its bytes; validators kept for other bytes count as none, and the
//   picture is then fetched whole. So the side file may be written before the picture is put
//   in place, and a process that ends between the two leaves nothing wrong behind.
// - The transfer lock is the POSIX layer's layout (TransferLockLayout.h) with LockFileEx.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

#include "Handles.h"
#include "Validators.h"

namespace nimbrel {

// How long a replace is retried while a reader holds the picture open, and how often.
inline constexpr DWORD kReplaceRetryMs = 10 * 1000;
inline constexpr DWORD kReplaceRetryStepMs = 50;

// The length and an FNV-1a digest of a picture's bytes, as text.
class ContentDigest {
public:
    void Add(std::string_view data);
    std::string Text() const;

private:
    unsigned long long m_length = 0;
    unsigned long long m_hash = 14695981039346656037ULL;
};

// The part of a '/'-separated path before its last component ("" when there is none), and the
// last component.
std::string_view DirectoryPart(std::string_view relative);
std::string_view NamePart(std::string_view relative);

// The directory of one picture, reached beneath a root.
class PictureDirectory {
public:
    // Opens `root` (a full path, '/' or '\' separated; links on the way followed, as the store
    // root may lie behind one), then each '/'-separated component of `relative` beneath it.
    // False with a reason in `why` when a component is missing, no directory, or a reparse
    // point, or when `relative` climbs out.
    bool Open(const std::string& root, std::string_view relative, std::string* why);

    // `name` in this directory, as a full path.
    std::wstring PathOf(std::string_view name) const;
    // Opens the file `name` of this directory without following a reparse point; refuses a
    // reparse point (ERROR_CANT_ACCESS_FILE) and a directory (ERROR_ACCESS_DENIED). An invalid
    // handle with the last error set on failure.
    UniqueHandle OpenFile(std::string_view name, DWORD access, DWORD share, DWORD disposition,
                          DWORD attributes = FILE_ATTRIBUTE_NORMAL) const;

    // What tells the picture `name` apart from another put in its place or touched since.
    struct StoredState {
        bool present = false;
        DWORD volume = 0;
        ULONGLONG index = 0;
        ULONGLONG lastWrite = 0, changed = 0, size = 0;
        bool operator==(const StoredState& other) const;
    };
    StoredState Examine(std::string_view name) const;

    // The validators kept for the picture `name`; empty ones when none are kept, or when they
    // were kept for other bytes than the picture now holds.
    Validators ReadValidators(std::string_view name) const;
    // Keeps them for the picture whose ContentDigest is `digest`, replacing what was kept
    // (removing it when both are empty).
    bool WriteValidators(std::string_view name, const Validators& validators,
                         const std::string& digest) const;
    // The ContentDigest text of the file `name`; empty when it cannot be read.
    std::string DigestOf(std::string_view name) const;
    // Removes the validators kept for `name` (none kept counts as done).
    bool ForgetValidators(std::string_view name) const;

    // Moves `from` over `to`, flushing the move to the disk, retrying while a reader holds
    // `to` open. False with the last error set.
    bool Replace(std::string_view from, std::string_view to) const;

    // Removes this library's temporary files older than a day, at most once an hour per
    // directory and process.
    void SweepStaleTempFiles() const;

private:
    std::vector<UniqueHandle> m_chain;  // the root and every directory down to this one
    std::wstring m_path;                // ends with a backslash
};

// The library's temporary file beside a picture: created CREATE_NEW, removed by the destructor
// unless it has been moved into place.
class TempFile {
public:
    explicit TempFile(const PictureDirectory& directory) : m_directory(directory) {}
    ~TempFile() { Discard(); }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    bool Create(std::string* why);
    explicit operator bool() const { return static_cast<bool>(m_file); }
    bool Write(const char* data, size_t length);
    // Flushes and closes the file, then moves it over `name`. False with the last error set;
    // the file is then gone.
    bool PlaceAs(std::string_view name);
    void Discard();

private:
    const PictureDirectory& m_directory;
    UniqueHandle m_file;
    std::string m_name;
};

// Sets the picture's times to now, as a picture written now would carry: the control judges
// freshness by the last write time. `file` needs FILE_WRITE_ATTRIBUTES.
bool MarkFresh(HANDLE file);

// One transfer per picture among processes: the POSIX TransferLock's rule and bytes.
class TransferLock {
public:
    enum class State { taken, busy, unavailable };

    State TryTake(const PictureDirectory& directory, std::string_view name, bool refresh);
    bool OtherStillRuns() const;
    void Release() { m_file.Reset(); }

private:
    UniqueHandle m_file;
    ULONGLONG m_fetchByte = 0;
    bool m_refresh = false;
};

}  // namespace nimbrel
