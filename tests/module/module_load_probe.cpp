// Loads a library in a fresh process, as a host would, and reports what its start-up did:
//   module_load_probe LIBRARY [--clock-offset SECONDS] [--unload] [--file-size-limit BYTES]
//                     [--housekeeping-without-descriptors] [--screen-boxes]
// --screen-boxes leaves the boxes to the layer (on a display: real windows) instead of recording.
// Output, one line each, fields separated by tabs (line feeds in texts written as \n):
//   box <text> <type> <help id>         for each message box, in order
//   load ok | load failed <error>
//   root <store root>
//   classes restored <0|1> adopted <0|1>   the raw entry parked the process's classes
//   unload chain <0|1> unmapped <0|1>      after FreeLibrary: module left MFC's chain / memory
// Built for Windows, the hive is the file hkcu.reg of the working directory, put in the place of
// HKEY_CURRENT_USER for this process; the clock is the system's (the tests age files instead),
// and neither a file size limit nor a descriptor limit exists.
#ifdef _WIN32
#include "hive_import.h"
#else
#include <dlfcn.h>
#include <sys/resource.h>
#include <unistd.h>
#endif

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "afxdllx.h"
#include "platform/clock.h"
#include "platform/msgbox.h"
#include "windows.h"

namespace {

std::string Escape(const char* text) {
    std::string out;
    for (const char* c = text; *c; ++c) {
        if (*c == '\n') {
            out += "\\n";
        } else {
            out += *c;
        }
    }
    return out;
}

CDynLinkLibrary* FindLibrary(HMODULE module) {
    for (CDynLinkLibrary* dll = AfxGetModuleState()->m_pFirstDLL; dll; dll = dll->m_pNextDLL) {
        if (dll->m_hModule == module) return dll;
    }
    return nullptr;
}

CRuntimeClass g_hostClass = {"CHostClass", 0, 0, nullptr, nullptr, nullptr};

#ifdef _WIN32
void MoveClock(long long) {}
void LimitFileSize(long long) {}
void RunWithoutDescriptors(FARPROC) {}

bool IsMapped(void* address) {
    HMODULE owner = nullptr;
    return GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                  GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                              static_cast<LPCSTR>(address), &owner) != FALSE;
}
#else
void MoveClock(long long seconds) {
    platform::SetClockOffset(std::chrono::seconds(seconds));
}

// Writes past the limit fail with EFBIG, as they would on a full disk.
void LimitFileSize(long long bytes) {
    const struct rlimit limit = {static_cast<rlim_t>(bytes), RLIM_INFINITY};
    signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &limit);
}

// Runs run once more, with every descriptor number in use as far as the limit tells: each open
// fails with EMFILE.
void RunWithoutDescriptors(FARPROC run) {
    const int lowestFree = dup(STDERR_FILENO);
    close(lowestFree);
    struct rlimit limit = {};
    getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = static_cast<rlim_t>(lowestFree);
    if (run != nullptr && lowestFree >= 0 && setrlimit(RLIMIT_NOFILE, &limit) == 0) {
        reinterpret_cast<void (*)()>(run)();
    }
}

bool IsMapped(void* address) {
    Dl_info info;
    return dladdr(address, &info) != 0;
}
#endif

}  // namespace

int main(int argc, char** argv) {
    // Each line goes out as it is printed, so a probe that dies midway shows how far it got.
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    if (argc < 2) {
        std::fprintf(
            stderr,
            "usage: %s LIBRARY [--clock-offset SECONDS] [--unload] [--file-size-limit BYTES]"
            " [--housekeeping-without-descriptors]\n",
            argv[0]);
        return 2;
    }
    bool unload = false;
    bool housekeepingWithoutDescriptors = false;
    bool screenBoxes = false;
    for (int i = 2; i < argc; ++i) {
        if (std::strcmp(argv[i], "--clock-offset") == 0 && i + 1 < argc) {
            MoveClock(std::atoll(argv[++i]));
        } else if (std::strcmp(argv[i], "--unload") == 0) {
            unload = true;
        } else if (std::strcmp(argv[i], "--housekeeping-without-descriptors") == 0) {
            housekeepingWithoutDescriptors = true;
        } else if (std::strcmp(argv[i], "--screen-boxes") == 0) {
            screenBoxes = true;
        } else if (std::strcmp(argv[i], "--file-size-limit") == 0 && i + 1 < argc) {
            LimitFileSize(std::atoll(argv[++i]));
        }
    }
    if (!screenBoxes) {
        platform::SetMessageBoxSink([](LPCTSTR text, UINT type, UINT helpId) {
            std::printf("box\t%s\t%u\t%u\n", Escape(text).c_str(), type, helpId);
            return IDOK;
        });
    }
    // A class of the host, registered before the library loads: the library's raw entry must
    // park it so that the library's record does not adopt it, and MFC must give it back.
    AfxClassInit(&g_hostClass);

#ifdef _WIN32
    const portrix_test::ScenarioHive hive("hkcu.reg");
    if (!hive.ok()) {
        std::fprintf(stderr, "the scenario's hive could not stand for HKEY_CURRENT_USER\n");
        return 2;
    }
#endif
    const HMODULE module = LoadLibraryA(argv[1]);
    if (module == nullptr) {
        std::printf("load\tfailed\t%u\n", static_cast<unsigned>(GetLastError()));
        return 0;
    }
    std::printf("load\tok\n");
    const FARPROC proc = GetProcAddress(module, "PortrixProbeStoreRoot");
    auto storeRoot = reinterpret_cast<const char* (*)()>(reinterpret_cast<void (*)()>(proc));
    if (storeRoot != nullptr) std::printf("root\t%s\n", storeRoot());
    if (housekeepingWithoutDescriptors) {
        RunWithoutDescriptors(GetProcAddress(module, "PortrixProbeRunHousekeeping"));
    }
    const CDynLinkLibrary* library = FindLibrary(module);
    std::printf("classes\trestored\t%d\tadopted\t%d\n",
                AfxGetModuleState()->m_pFirstClass == &g_hostClass,
                library != nullptr && library->m_pFirstSharedClass == &g_hostClass);
    if (unload) {
        FreeLibrary(module);
        std::printf("unload\tchain\t%d\tunmapped\t%d\n", FindLibrary(module) == nullptr,
                    !IsMapped(reinterpret_cast<void*>(storeRoot)));
    }
    std::fflush(stdout);
    return 0;
}
