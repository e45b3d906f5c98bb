// The names of the library's own files and the sweep of stale temporaries, shared by the POSIX
// and the Windows file layers.
#include <cstdio>
#include <random>

#include "StoreFiles.h"
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

void StaleTempSweeper::BeforeWriting(const std::string& directory, const PictureDirectory& opened) {
    constexpr auto kSweepInterval = std::chrono::hours(1);
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        const auto now = std::chrono::steady_clock::now();
        const auto found = m_lastSweep.find(directory);
        if (found != m_lastSweep.end() && now - found->second < kSweepInterval) return;
        m_lastSweep[directory] = now;
    }
    opened.RemoveStaleTempFiles();
}

}  // namespace nimbrel
