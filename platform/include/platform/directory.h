// A directory held open, for a series of calls on its entries: its path is resolved once, and
// nothing inside it is reached through a symbolic link. An extension of this layer (the
// original platform offers the same through handles opened with FILE_FLAG_OPEN_REPARSE_POINT);
// it lets a clean-up such as the store's sweep stay inside the folder it was given.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "windef.h"

namespace platform {

struct DirectoryEntry {
    std::string name;
    // Of the entry itself: a symbolic link's own times and attributes, never its target's.
    FILETIME creationTime;  // UTC; the birth time where the file system keeps one
    bool isDirectory;
    bool isSymbolicLink;
    // Which file the listing saw, and its last write to the nanosecond: a later deletion by
    // name can tell whether the name still holds that file, unchanged.
    uint64_t device = 0;
    uint64_t inode = 0;
    int64_t lastWriteNanoseconds = 0;
};

class Directory {
public:
    Directory() = default;
    // Opens the directory that path names (a Windows path, resolved as every file call of the
    // layer resolves it; symbolic links on the way are followed).
    explicit Directory(LPCSTR path);
    // Opens the directory name inside parent, matched without regard to case as paths are;
    // not open when it is missing, not a directory, or a symbolic link.
    Directory(const Directory& parent, const std::string& name);
    ~Directory();
    Directory(Directory&& other) noexcept;
    Directory& operator=(Directory&& other) noexcept;
    Directory(const Directory&) = delete;
    Directory& operator=(const Directory&) = delete;

    bool IsOpen() const { return m_fd >= 0; }

    // The entries whose names match pattern ('*' and '?' as FindFirstFileA matches them), in
    // the file system's order, without "." and "..".
    std::vector<DirectoryEntry> Find(const std::string& pattern) const;

    // Deletes the entry name of this directory as DeleteFileA deletes a file: a symbolic link
    // goes itself; a directory or a read-only file is refused with ERROR_ACCESS_DENIED, a file
    // that an open of this layer holds with ERROR_SHARING_VIOLATION. FALSE with the last error.
    BOOL DeleteEntry(const std::string& name) const;
    // The same, only while the entry's name still holds the file that Find listed, unchanged
    // since: a file put in its place (a rename over the name) or written since stays, and the
    // call fails with ERROR_FILE_NOT_FOUND, the listed file being gone.
    BOOL DeleteEntry(const DirectoryEntry& listed) const;

private:
    BOOL DeleteUnchanged(const std::string& name, const DirectoryEntry* listed) const;

    int m_fd = -1;  // on Windows 0 while open, the folder being held by its path
#ifdef _WIN32
    std::string m_path;  // ending in a separator
#endif
};

}  // namespace platform
