// The Path value's checks and the diagnostics of the attach sequence.
#include "InstallPath.h"

#include <algorithm>
#include <cstdio>

#include "ModuleSettings.h"
#include "windows.h"
#ifndef _WIN32
#include "platform/registry_hive.h"
#endif

namespace {

constexpr char kShareKeyName[] = "HKEY_CURRENT_USER\\Software\\szDomain\\Share";

bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}

// "\dir", "/dir" and "C:\dir" are absolute; "dir" and "C:dir" are not.
bool IsAbsolutePath(const CString& path) {
    const LPCTSTR text = path;
    if (IsSeparator(text[0])) return true;
    const bool drive = (text[0] >= 'A' && text[0] <= 'Z') || (text[0] >= 'a' && text[0] <= 'z');
    return drive && text[1] == ':' && IsSeparator(text[2]);
}

// Decimal text of a number. Not std::to_string: its digit table is a unique symbol, which
// would keep the library from ever being unloaded.
std::string Decimal(unsigned long number) {
    char text[24];
    std::snprintf(text, sizeof(text), "%lu", number);
    return text;
}

void Report(const std::string& sentence) {
    std::fprintf(stderr, "portrix: %s\n", sentence.c_str());
    std::fflush(stderr);
}

// Why a registry call failed on the hive file itself, or "" when the file is fine.
std::string HiveProblem(long result) {
    if (result == ERROR_FILE_NOT_FOUND || result == ERROR_MORE_DATA || result == ERROR_SUCCESS)
        return "";
#ifdef _WIN32
    // The system's registry has no file behind it that could be named.
    return "the registry cannot be read (system error code " +
           Decimal(static_cast<unsigned long>(result)) + ")";
#else
    const std::string problem = platform::RegistryHiveProblem();
    if (!problem.empty()) return problem;
    return "the registry hive " + platform::RegistryHivePath() +
           " cannot be read (system error code " + Decimal(static_cast<unsigned long>(result)) +
           ")";
#endif
}

// Where the key and its value are looked for, for the sentences below.
std::string WhereLookedFor() {
#ifdef _WIN32
    return "";
#else
    return " in the registry hive " + platform::RegistryHivePath();
#endif
}

}  // namespace

BOOL InstallPathFromValue(DWORD type, const BYTE* data, DWORD size, CString* installPath,
                          std::string* why) {
    if (type != REG_SZ && type != REG_EXPAND_SZ) {
        *why = "is not a string (registry type " + Decimal(type) + ")";
        return FALSE;
    }
    const BYTE* end = data + size;
    const BYTE* nul = std::find(data, end, 0);
    if (std::any_of(nul, end, [](BYTE b) { return b != 0; })) {
        *why = "holds a NUL inside its text";
        return FALSE;
    }
    if (nul == end && size >= module_settings::kInstallPathBufferSize) {
        *why = "is longer than " + Decimal(module_settings::kInstallPathBufferSize - 1) +
               " characters";
        return FALSE;
    }
    const CString path(reinterpret_cast<LPCTSTR>(data), static_cast<int>(nul - data));
    if (path.IsEmpty()) {
        *why = "is empty";
        return FALSE;
    }
    if (!IsAbsolutePath(path)) {
        *why = "is \"" + std::string(path) + "\", which is not an absolute path";
        return FALSE;
    }
    const DWORD attributes = GetFileAttributesA(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        *why = "is \"" + std::string(path) + "\", which is not a directory";
        return FALSE;
    }
    *installPath = path;
    return TRUE;
}

void ReportShareKeyFailure(long result) {
    const std::string problem = HiveProblem(result);
    if (!problem.empty()) return Report(problem);
#ifdef _WIN32
    Report(std::string("there is no key ") + kShareKeyName + " in the registry");
#else
    const std::string hive = platform::RegistryHivePath();
    if (GetFileAttributesA(hive.c_str()) == INVALID_FILE_ATTRIBUTES) {
        return Report("there is no registry hive " + hive + ", so no key " + kShareKeyName);
    }
    Report("the registry hive " + hive + " has no key " + kShareKeyName);
#endif
}

void ReportPathValueFailure(long result, const std::string& why) {
    const std::string problem = HiveProblem(result);
    if (!problem.empty()) return Report(problem);
    const std::string value = std::string("the value ") + module_settings::kInstallPathValue +
                              " of " + kShareKeyName + WhereLookedFor();
    if (result == ERROR_FILE_NOT_FOUND) return Report(value + " is missing");
    if (result == ERROR_MORE_DATA) {
        return Report(value + " is longer than " +
                      Decimal(module_settings::kInstallPathBufferSize - 1) + " characters");
    }
    Report(value + " " + why + "; it must name an absolute directory");
}
