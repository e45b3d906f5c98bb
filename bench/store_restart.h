// A benchmark of the control needs a store, which the library looks for when it loads: before
// main runs. Without one, the program writes a hive that names `install` as the store and starts
// itself again with it; with one, it returns and goes on.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

inline void RestartWithStore(const std::string& install, const std::string& hive, char** argv) {
    if (std::getenv("PORTRIX_HKCU") != nullptr) return;
    std::filesystem::create_directories(install);
    if (FILE* file = std::fopen(hive.c_str(), "w")) {
        std::fprintf(
            file, "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\szDomain\\Share]\n\"Path\"=\"%s\"\n",
            install.c_str());
        std::fclose(file);
    }
    ::setenv("PORTRIX_HKCU", hive.c_str(), 1);
    ::execv("/proc/self/exe", argv);
    std::exit(1);
}
