// The names of the library's own files, shared by the POSIX and the Windows file layers.
#include <cstdio>
#include <random>

#include "TempFiles.h"

namespace nimbrel {

std::string MakeTempName() {
    thread_local std::mt19937_64 generator{std::random_device{}()};
    char random[17];
    std::snprintf(random, sizeof random, "%016llx", static_cast<unsigned long long>(generator()));
    return std::string(kTempPrefix) + random + kTempSuffix;
}

bool IsTempName(std::string_view fileName) {
    const std::string_view prefix = kTempPrefix;
    const std::string_view suffix = kTempSuffix;
    return fileName.size() > prefix.size() + suffix.size() &&
           fileName.substr(0, prefix.size()) == prefix &&
           fileName.substr(fileName.size() - suffix.size()) == suffix;
}

bool IsLibraryFileName(std::string_view fileName) {
    return fileName.substr(0, sizeof kLibraryFilePrefix - 1) == kLibraryFilePrefix;
}

}  // namespace nimbrel
