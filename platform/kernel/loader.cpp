// LoadLibraryA, FreeLibrary, GetProcAddress, GetModuleFileNameA over dlopen.
#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>

#include "internal/module_attach.h"
#include "platform/path.h"
#include "winbase.h"

namespace {

// Loads in progress on this thread, and whether a library refused its attach during them.
thread_local int t_loadDepth = 0;
thread_local bool t_attachRefused = false;

// The dlopen handles behind the module handles that LoadLibraryA gave out, with the number of
// loads not yet freed.
struct Loaded {
    void* handle;
    int loads;
};
std::mutex g_loadedMutex;
std::map<HMODULE, Loaded> g_loaded;

HMODULE ModuleOfHandle(void* handle) {
    link_map* map = nullptr;
    if (dlinfo(handle, RTLD_DI_LINKMAP, &map) != 0 || map == nullptr) return nullptr;
    return platform::internal::ModuleFromAddress(map->l_ld);
}

std::string LibraryName(LPCSTR fileName) {
    const std::string name = fileName;
    if (name.find_first_of("\\/") == std::string::npos) return name;
    return platform::ToPosixPath(fileName);
}

}  // namespace

namespace platform::internal {

HMODULE ModuleFromAddress(const void* address) {
    Dl_info info;
    if (address == nullptr || dladdr(address, &info) == 0) return nullptr;
    return static_cast<HMODULE>(info.dli_fbase);
}

void ReportModuleAttachFailure(HMODULE module) {
    if (t_loadDepth > 0) {
        t_attachRefused = true;
        return;
    }
    char name[PATH_MAX] = "a library";
    GetModuleFileNameA(module, name, sizeof(name));
    std::fprintf(stderr,
                 "%s: the initialisation of the library failed (ERROR_DLL_INIT_FAILED, %ld); "
                 "the process cannot continue.\n",
                 name, ERROR_DLL_INIT_FAILED);
    std::fflush(stderr);
    _exit(127);  // what the dynamic linker does when a program's library cannot be loaded
}

}  // namespace platform::internal

HMODULE LoadLibraryA(LPCSTR fileName) {
    if (fileName == nullptr || *fileName == '\0') {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const std::string name = LibraryName(fileName);
    const bool outerRefused = t_attachRefused;
    t_attachRefused = false;
    ++t_loadDepth;
    void* handle = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
    --t_loadDepth;
    // A library loaded by this dlopen as a dependency refuses for the whole load, as a failing
    // import does; a LoadLibraryA nested in a library's start-up only fails itself.
    const bool refused = t_attachRefused;
    t_attachRefused = outerRefused;
    if (handle == nullptr) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    if (refused) {
        dlclose(handle);  // runs the library's static clean-up
        SetLastError(ERROR_DLL_INIT_FAILED);
        return nullptr;
    }
    const HMODULE module = ModuleOfHandle(handle);
    if (module == nullptr) {
        dlclose(handle);
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    std::lock_guard<std::mutex> lock(g_loadedMutex);
    Loaded& loaded = g_loaded[module];
    loaded.handle = handle;
    ++loaded.loads;
    return module;
}

BOOL FreeLibrary(HMODULE module) {
    void* handle = nullptr;
    {
        std::lock_guard<std::mutex> lock(g_loadedMutex);
        auto found = g_loaded.find(module);
        if (found == g_loaded.end()) {
            SetLastError(ERROR_MOD_NOT_FOUND);
            return FALSE;
        }
        handle = found->second.handle;
        if (--found->second.loads == 0) g_loaded.erase(found);
    }
    // Outside the lock: the library's clean-up may load or free other libraries.
    dlclose(handle);
    return TRUE;
}

FARPROC GetProcAddress(HMODULE module, LPCSTR procName) {
    if (procName == nullptr || reinterpret_cast<uintptr_t>(procName) < 0x10000) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    void* handle = nullptr;
    {
        std::lock_guard<std::mutex> lock(g_loadedMutex);
        auto found = g_loaded.find(module);
        if (found == g_loaded.end()) {
            SetLastError(ERROR_MOD_NOT_FOUND);
            return nullptr;
        }
        handle = found->second.handle;
    }
    void* symbol = dlsym(handle, procName);
    if (symbol == nullptr) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    return reinterpret_cast<FARPROC>(symbol);
}

DWORD GetModuleFileNameA(HMODULE module, LPSTR fileName, DWORD size) {
    std::string path;
    if (module == nullptr) {
        char buffer[PATH_MAX];
        const ssize_t length = readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
        if (length > 0) path.assign(buffer, static_cast<size_t>(length));
    } else {
        Dl_info info;
        if (dladdr(module, &info) != 0 && info.dli_fname != nullptr) {
            char resolved[PATH_MAX];
            path = realpath(info.dli_fname, resolved) ? resolved : info.dli_fname;
        }
    }
    if (path.empty()) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return 0;
    }
    if (fileName == nullptr || size == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    if (path.size() >= size) {
        std::memcpy(fileName, path.data(), size - 1);
        fileName[size - 1] = '\0';
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return size;
    }
    std::memcpy(fileName, path.c_str(), path.size() + 1);
    return static_cast<DWORD>(path.size());
}
