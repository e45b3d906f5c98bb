#include "TempFolder.h"

#include <cstdio>
#include <cstdlib>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace demo {

#ifdef _WIN32

std::string MakeTemporaryFolder(const char* prefix) {
    char base[MAX_PATH + 1];
    const DWORD length = GetTempPathA(sizeof base, base);
    if (length == 0 || length > MAX_PATH) return "";
    // CreateDirectoryA refuses a name that exists, so a taken name only moves on to the next.
    const unsigned start = GetTickCount() ^ (GetCurrentProcessId() << 16);
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        char unique[16];
        std::snprintf(unique, sizeof unique, "%08x", start + attempt * 7919u);
        const std::string path = std::string(base) + prefix + "." + unique;
        if (CreateDirectoryA(path.c_str(), nullptr)) return path;
        if (GetLastError() != ERROR_ALREADY_EXISTS) return "";
    }
    return "";
}

#else

std::string MakeTemporaryFolder(const char* prefix) {
    const char* base = std::getenv("TMPDIR");
    std::string pattern =
        std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/" + prefix + ".XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) return "";
    return pattern;
}

#endif

}  // namespace demo
