// The library's temporary files: a body is written to one beside its destination and
// moved into place only when complete. Their names start with a dot and end in ".part",
// so they never match a picture name, "*.gif" or "*.txt".
#pragma once

#include <chrono>
#include <map>
#include <string>
#include <string_view>

namespace nimbrel {

inline constexpr char kTempPrefix[] = ".nimbrel-";
inline constexpr char kTempSuffix[] = ".part";
inline constexpr std::chrono::hours kStaleTempAge{24};

// A fresh temporary name (no directory part), unique enough for O_EXCL creation.
std::string MakeTempName();

bool IsTempName(std::string_view fileName);

// The directory part of a POSIX path ("." when it has none).
std::string DirectoryOf(const std::string& path);

// Removes this library's temporary files in `directory` whose modification time lies more
// than `maxAge` in the past. Returns how many were removed.
int RemoveStaleTempFiles(const std::string& directory, std::chrono::seconds maxAge = kStaleTempAge);

// Sweeps a directory about to be written at most once an hour, so that a busy directory
// is not listed for every picture. Owned by the worker thread that uses it.
class StaleTempSweeper {
public:
    void BeforeWriting(const std::string& directory);

private:
    std::map<std::string, std::chrono::steady_clock::time_point> m_lastSweep;
};

}  // namespace nimbrel
