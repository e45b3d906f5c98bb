// Built for Windows, where a probe's clock cannot be moved: the files and folders below a folder
// made older (or younger) instead. The sweep goes by creation time; Wine on Linux keeps none of
// its own and reports the last write time as the creation time, so where setting the creation
// time does not take, the last write time is moved with it.
#pragma once

#include <windows.h>

#include <filesystem>
#include <string>

namespace portrix_test {

inline void ShiftTime(FILETIME* time, long long seconds) {
    ULARGE_INTEGER value;
    value.LowPart = time->dwLowDateTime;
    value.HighPart = time->dwHighDateTime;
    value.QuadPart -= static_cast<ULONGLONG>(seconds * 10'000'000LL);
    time->dwLowDateTime = value.LowPart;
    time->dwHighDateTime = value.HighPart;
}

// Moves the creation time of path back by seconds (forward when negative).
inline bool AgeEntry(const std::string& path, long long seconds) {
    HANDLE entry = CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (entry == INVALID_HANDLE_VALUE) return false;
    FILETIME created, written, after;
    bool ok = GetFileTime(entry, &created, nullptr, &written);
    if (ok) {
        const FILETIME wanted = [&] {
            FILETIME t = created;
            ShiftTime(&t, seconds);
            return t;
        }();
        ok = SetFileTime(entry, &wanted, nullptr, nullptr) &&
             GetFileTime(entry, &after, nullptr, nullptr);
        if (ok && CompareFileTime(&after, &wanted) != 0) {
            ShiftTime(&written, seconds);
            ok = SetFileTime(entry, nullptr, nullptr, &written);
        }
    }
    CloseHandle(entry);
    return ok;
}

inline void AgeEverythingBelow(const std::string& folder, long long seconds) {
    if (seconds == 0) return;
    std::error_code ignored;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder, ignored))
        AgeEntry(entry.path().string(), seconds);
}

}  // namespace portrix_test
