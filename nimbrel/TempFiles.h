// The library's own files in the store's directories: temporary files (a body is written to
// one beside its destination and moved into place only when complete) and the lock file of
// TransferLock. Their names start with ".nimbrel", so they never match "*.gif" or "*.txt",
// and no picture may have such a name.
#pragma once

#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <string_view>

namespace nimbrel {

inline constexpr char kLibraryFilePrefix[] = ".nimbrel";
inline constexpr char kTempPrefix[] = ".nimbrel-";
inline constexpr char kTempSuffix[] = ".part";
inline constexpr char kLockFileName[] = ".nimbrel.lock";
inline constexpr std::chrono::hours kStaleTempAge{24};

// A fresh temporary name (no directory part), unique enough for O_EXCL creation.
std::string MakeTempName();

bool IsTempName(std::string_view fileName);

// True for every name the library keeps for itself.
bool IsLibraryFileName(std::string_view fileName);

class PictureDirectory;

// Sweeps a directory about to be written (PictureDirectory::RemoveStaleTempFiles) at most once
// an hour, so that a busy directory is not listed for every picture. Safe to share among threads.
class StaleTempSweeper {
public:
    // `directory` names the directory, to tell directories apart.
    void BeforeWriting(const std::string& directory, const PictureDirectory& opened);

private:
    std::mutex m_mutex;
    std::map<std::string, std::chrono::steady_clock::time_point> m_lastSweep;
};

}  // namespace nimbrel
