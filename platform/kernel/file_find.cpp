// Directory search: FindFirstFileA, FindNextFileA, FindClose.
//
// The matching entries are read when the search begins, so entries created or deleted while
// it runs do not disturb it (the original platform does not promise to show them either).
#include <dirent.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

#include "internal/file_share.h"
#include "internal/missing_files.h"
#include "platform/path.h"
#include "winbase.h"

namespace {

struct FindSearch {
    std::vector<WIN32_FIND_DATAA> entries;
    size_t next = 0;
};

// Live searches, so that a stale or foreign handle is refused instead of followed.
std::mutex g_searchesMutex;
std::set<FindSearch*> g_searches;

FindSearch* LookUp(HANDLE find) {
    std::lock_guard<std::mutex> lock(g_searchesMutex);
    auto* search = static_cast<FindSearch*>(find);
    return g_searches.count(search) ? search : nullptr;
}

bool MakeEntry(const std::string& directory, const std::string& name, WIN32_FIND_DATAA* data) {
    if (name.size() >= MAX_PATH) return false;
    platform::internal::FileStatus status;
    if (!platform::internal::GetFileStatus(directory + name, &status, nullptr)) return false;
    std::memset(data, 0, sizeof(*data));
    data->dwFileAttributes = platform::internal::AttributesOf(status);
    data->ftCreationTime = platform::internal::ToFileTime(status.creation);
    data->ftLastAccessTime = platform::internal::ToFileTime(status.lastAccess);
    data->ftLastWriteTime = platform::internal::ToFileTime(status.lastWrite);
    data->nFileSizeHigh = static_cast<DWORD>(status.size >> 32);
    data->nFileSizeLow = static_cast<DWORD>(status.size & 0xFFFFFFFFu);
    std::memcpy(data->cFileName, name.c_str(), name.size() + 1);
    return true;
}

}  // namespace

HANDLE FindFirstFileA(LPCSTR pattern, LPWIN32_FIND_DATAA data) {
    if (pattern == nullptr || data == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    const std::string text = pattern;
    const size_t split = text.find_last_of("\\/");
    const std::string directoryPart = split == std::string::npos ? "" : text.substr(0, split + 1);
    const std::string namePattern = split == std::string::npos ? text : text.substr(split + 1);
    if (namePattern.empty()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    auto search = std::make_unique<FindSearch>();
    const auto add = [&](const std::string& directory, const std::string& name) {
        WIN32_FIND_DATAA found;
        if (platform::MatchesWildcard(name, namePattern) && MakeEntry(directory, name, &found)) {
            search->entries.push_back(found);
        }
    };
    // A remembered folder's entries are known without reading the directory ("." and ".." are
    // listed as a directory read lists them).
    std::string directory;
    std::vector<std::string> names = {".", ".."};
    if (!directoryPart.empty() &&
        platform::internal::ListRemembered(directoryPart, &directory, &names)) {
        for (const std::string& name : names) add(directory, name);
    } else {
        directory = directoryPart.empty() ? "./" : platform::ToPosixPath(directoryPart.c_str());
        if (directory.back() != '/') directory += '/';
        std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(directory.c_str()), closedir);
        if (!dir) {
            SetLastError(errno == ENOENT || errno == ENOTDIR ? ERROR_PATH_NOT_FOUND
                                                             : ERROR_ACCESS_DENIED);
            return INVALID_HANDLE_VALUE;
        }
        while (const dirent* entry = readdir(dir.get())) add(directory, entry->d_name);
    }
    if (search->entries.empty()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    *data = search->entries[0];
    search->next = 1;
    std::lock_guard<std::mutex> lock(g_searchesMutex);
    g_searches.insert(search.get());
    return search.release();
}

BOOL FindNextFileA(HANDLE find, LPWIN32_FIND_DATAA data) {
    FindSearch* search = LookUp(find);
    if (search == nullptr || data == nullptr) {
        SetLastError(search == nullptr ? ERROR_INVALID_HANDLE : ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (search->next >= search->entries.size()) {
        SetLastError(ERROR_NO_MORE_FILES);
        return FALSE;
    }
    *data = search->entries[search->next++];
    return TRUE;
}

BOOL FindClose(HANDLE find) {
    std::unique_ptr<FindSearch> search;
    {
        std::lock_guard<std::mutex> lock(g_searchesMutex);
        auto* candidate = static_cast<FindSearch*>(find);
        if (g_searches.erase(candidate) == 0) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        search.reset(candidate);
    }
    return TRUE;
}
