// Private seam between file opens and the memo of missing files
// (platform/missing_files.h says what it promises).
#pragma once
#include <string>

namespace platform::internal {

// True when windowsPath is known to be missing and nothing on its path changed since.
bool KnownMissing(const char* windowsPath);

// Called after an open of windowsPath (resolved to posixPath) failed with
// ERROR_FILE_NOT_FOUND: watches its directories, looks again and, when the file is still
// missing, remembers it.
void NoteMissing(const char* windowsPath, const std::string& posixPath);

}  // namespace platform::internal
