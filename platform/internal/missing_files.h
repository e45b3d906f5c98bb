// Private seam between file opens and the memo of missing files and of the folders below a
// confined folder (platform/missing_files.h says what it promises).
#pragma once
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "BeneathOpen.h"

namespace platform::internal {

// True when windowsPath is known to be missing and nothing on its path changed since.
bool KnownMissing(const char* windowsPath);

// Called after an open of windowsPath (resolved to posixPath) failed with
// ERROR_FILE_NOT_FOUND: watches its directories, looks again and, when the file is still
// missing, remembers it.
void NoteMissing(const char* windowsPath, const std::string& posixPath);

// What the memo knows of the entry a path names, as of the moment it answered.
enum class EntryKind {
    Unknown,      // not remembered: look at the disk
    Missing,      // no entry of that name, in any letter case
    RegularFile,  // listed as a regular file
    Other,        // listed as anything else (a directory, a link, a pipe ...)
};
struct KnownPath {
    EntryKind kind = EntryKind::Unknown;
    // The confined folder the path lies below, held open, and the length of its path in the
    // POSIX path with its '/'; empty when the memo holds none.
    std::shared_ptr<const beneath::UniqueFd> folder;
    size_t folderLength = 0;
};

// The POSIX path of windowsPath as ToPosixPath resolves it, answered from the remembered
// folders below a confined folder without looking at the disk; false when the path's folder
// is not remembered (or the memo is off).
bool ResolveRemembered(const char* windowsPath, std::string* posixPath, KnownPath* known);

// Offers the memo a path just resolved by looking at the disk: when its folder lies below a
// confined folder (and can be watched), the folder is remembered with its entries.
void RememberResolved(const char* windowsPath, const std::string& posixPath);

// The entries of the remembered folder that windowsFolder (ending in a separator) resolves to,
// and its POSIX path with a trailing '/'; false when it is not remembered.
bool ListRemembered(const std::string& windowsFolder, std::string* posixFolder,
                    std::vector<std::string>* names);

// ToPosixPath with what the memo knows of the entry (known may be null).
std::string ResolvePath(const char* windowsPath, KnownPath* known);

// ToPosixPath by looking at the disk alone, component by component.
std::string ResolveByWalking(const char* windowsPath);

// The confined folder (platform/confined_opens.h) that the folder at posixDirectory is or lies
// below, without a trailing '/'; empty when none.
std::string ConfinedFolderOf(const std::string& posixDirectory);

}  // namespace platform::internal
