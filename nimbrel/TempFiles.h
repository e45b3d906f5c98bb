// The library's temporary files: a body is written to one beside its destination and
// moved into place only when complete. Their names start with a dot and end in ".part",
// so they never match a picture name, "*.gif" or "*.txt".
#pragma once

#include <chrono>
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

// RemoveStaleTempFiles for a directory about to be written, at most once an hour per
// directory, so that a busy directory is not listed for every picture.
void RemoveStaleTempFilesBeforeWriting(const std::string& directory);

}  // namespace nimbrel
