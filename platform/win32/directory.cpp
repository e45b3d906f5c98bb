// platform::Directory over FindFirstFileA and DeleteFileA, for the product's store sweep on
// Windows. The folder is held by its path; a folder reached by name inside another is refused
// when it is a reparse point (a link), so that a sweep never leaves the tree it was given.
#include "platform/directory.h"

#include <windows.h>

#include <cstring>
#include <utility>

namespace platform {
namespace {

constexpr int64_t kUnixEpochAsFileTime = 116444736000000000LL;
constexpr int64_t kNanosecondsPerUnit = 100;

int64_t Nanoseconds(const FILETIME& time) {
    const int64_t units = static_cast<int64_t>((static_cast<uint64_t>(time.dwHighDateTime) << 32) |
                                               time.dwLowDateTime);
    return (units - kUnixEpochAsFileTime) * kNanosecondsPerUnit;
}

bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}

}  // namespace

Directory::Directory(LPCSTR path) {
    const DWORD attributes = path ? GetFileAttributesA(path) : INVALID_FILE_ATTRIBUTES;
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return;
    m_path = path;
    if (!IsSeparator(m_path.back())) m_path += '\\';
    m_fd = 0;
}

Directory::Directory(const Directory& parent, const std::string& name) {
    if (!parent.IsOpen() || name.empty()) return;
    const std::string path = parent.m_path + name;
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY) ||
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        return;
    }
    m_path = path + '\\';
    m_fd = 0;
}

Directory::~Directory() = default;
Directory::Directory(Directory&& other) noexcept
    : m_fd(other.m_fd), m_path(std::move(other.m_path)) {
    other.m_fd = -1;
}

Directory& Directory::operator=(Directory&& other) noexcept {
    m_fd = other.m_fd;
    m_path = std::move(other.m_path);
    other.m_fd = -1;
    return *this;
}

std::vector<DirectoryEntry> Directory::Find(const std::string& pattern) const {
    std::vector<DirectoryEntry> entries;
    if (!IsOpen()) return entries;
    WIN32_FIND_DATAA found;
    const HANDLE search = FindFirstFileA((m_path + pattern).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return entries;
    do {
        if (std::strcmp(found.cFileName, ".") == 0 || std::strcmp(found.cFileName, "..") == 0)
            continue;
        DirectoryEntry entry;
        entry.name = found.cFileName;
        entry.creationTime = found.ftCreationTime;
        entry.isDirectory = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        entry.isSymbolicLink = (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        entry.lastWriteNanoseconds = Nanoseconds(found.ftLastWriteTime);
        entries.push_back(entry);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return entries;
}

BOOL Directory::DeleteEntry(const std::string& name) const {
    return DeleteUnchanged(name, nullptr);
}

BOOL Directory::DeleteEntry(const DirectoryEntry& listed) const {
    return DeleteUnchanged(listed.name, &listed);
}

BOOL Directory::DeleteUnchanged(const std::string& name, const DirectoryEntry* listed) const {
    if (!IsOpen()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    const std::string path = m_path + name;
    WIN32_FILE_ATTRIBUTE_DATA now;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &now)) return FALSE;
    if (now.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY &&
        !(now.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (listed != nullptr &&
        (Nanoseconds(now.ftLastWriteTime) != listed->lastWriteNanoseconds ||
         std::memcmp(&now.ftCreationTime, &listed->creationTime, sizeof(FILETIME)) != 0)) {
        // Written since the listing, or another file under the name.
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    return DeleteFileA(path.c_str());
}

}  // namespace platform
