// portrix-demo: prepares a throwaway install of the avatar library, then loads the demo host.
//
// libportrix reads the install path from the current user's registry while it is being
// loaded (its attach sequence creates the store tree and sweeps it). So the host cannot link
// it: the library would attach before main() with the user's real settings, and sweep the
// user's real store. This launcher links only the platform layer: it makes the install
// directory, points the registry (PORTRIX_HKCU) at a hive of its own and writes the install
// path there, and only then loads the host module with LoadLibraryA, which brings libportrix
// and libnimbrel in with it, exactly as a host application that loads the library at run time.
// On Windows the registry is the system's: the current user's key is replaced, for this process
// alone, by a volatile key of the launcher's own (RegOverridePredefKey), which goes at the end.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "Options.h"
#include "TempFolder.h"
#include "platform/display.h"
#include "windows.h"

// Debian's cpp-httplib, behind the embedded avatar server, is a prebuilt library without
// ThreadSanitizer's instrumentation: the sanitizer sees the copies of its worker threads but
// not their synchronisation. The server shares no memory with the library under demonstration,
// so only reports from inside that library are silenced (a no-op in other builds).
extern "C" const char* __tsan_default_suppressions() {
    return "race:libcpp-httplib.so\n";
}

namespace {

namespace fs = std::filesystem;

const char kShareKey[] = "Software\\szDomain\\Share";
const char kHostEntry[] = "PortrixDemoRun";
#ifdef _WIN32
// Beside the launcher, in the bin folder.
const char kHostModule[] = "portrix-demo-host.dll";
// Below a volatile key every key must be volatile too.
constexpr DWORD kKeyOptions = REG_OPTION_VOLATILE;
#else
// In the lib folder beside the bin folder of the launcher.
const char kHostModule[] = "libportrix-demo-host.so";
constexpr DWORD kKeyOptions = 0;
#endif

typedef int (*DemoEntry)(int argc, char** argv, const char* installDir);

#ifdef _WIN32
// The process's own current-user key for the run: HKEY_CURRENT_USER\Software\Portrix demo\<pid>,
// volatile, so that not even a killed run leaves it past the session.
class RegistryOverride {
public:
    RegistryOverride()
        : path_(std::string(kParent) + "\\" + std::to_string(GetCurrentProcessId())) {
        if (RegCreateKeyExA(HKEY_CURRENT_USER, path_.c_str(), 0, nullptr, REG_OPTION_VOLATILE,
                            KEY_ALL_ACCESS, nullptr, &key_, nullptr) != ERROR_SUCCESS)
            key_ = nullptr;
        if (key_ != nullptr && RegOverridePredefKey(HKEY_CURRENT_USER, key_) == ERROR_SUCCESS)
            name_ = "HKEY_CURRENT_USER\\" + path_;
    }
    ~RegistryOverride() {
        if (key_ == nullptr) return;
        if (!name_.empty()) RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
        RegDeleteTreeA(key_, nullptr);
        RegCloseKey(key_);
        RegDeleteKeyA(HKEY_CURRENT_USER, path_.c_str());
        RegDeleteKeyA(HKEY_CURRENT_USER, kParent);  // refused while another run has its key there
    }
    RegistryOverride(const RegistryOverride&) = delete;
    RegistryOverride& operator=(const RegistryOverride&) = delete;
    // Empty when the override could not be put in place.
    const std::string& name() const { return name_; }

private:
    static constexpr char kParent[] = "Software\\Portrix demo";
    const std::string path_;
    HKEY key_ = nullptr;
    std::string name_;
};
#endif

bool WriteInstallPath(const std::string& installDir) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, kShareKey, 0, nullptr, kKeyOptions, KEY_SET_VALUE,
                        nullptr, &key, nullptr) != ERROR_SUCCESS)
        return false;
    const LONG result =
        RegSetValueExA(key, "Path", 0, REG_SZ, reinterpret_cast<const BYTE*>(installDir.c_str()),
                       static_cast<DWORD>(installDir.size() + 1));
    RegCloseKey(key);
    return result == ERROR_SUCCESS;
}

std::string HostModulePath() {
    char self[4096];
    const DWORD length = GetModuleFileNameA(nullptr, self, sizeof self);
    if (length == 0 || length >= sizeof self) return kHostModule;
#ifdef _WIN32
    return (fs::path(self).parent_path() / kHostModule).string();
#else
    return (fs::path(self).parent_path().parent_path() / "lib" / kHostModule).string();
#endif
}

}  // namespace

int main(int argc, char** argv) {
    demo::Options options;
    std::string error;
    if (!demo::ParseOptions(argc, argv, &options, &error)) {
        std::fprintf(stderr, "portrix-demo: %s\n\n%s", error.c_str(), demo::kUsage);
        return 2;
    }
    if (options.help) {
        std::fputs(demo::kUsage, stdout);
        return 0;
    }
#ifndef _WIN32
    // The dialog reaches the screen only when asked for: the platform shows every visible
    // window on the display otherwise. (Windows shows it in any case.)
    if (!options.window) setenv("PORTRIX_NO_DISPLAY", "1", 1);
#endif
    // Before anything is made: a window that cannot be shown ends the run, saying why.
    if (const char* problem = options.window ? platform::DisplayProblem() : nullptr) {
        std::fprintf(stderr, "portrix-demo: --window: %s\n", problem);
        return 2;
    }

    const std::string installDir = demo::MakeTemporaryFolder("portrix-install");
    if (installDir.empty()) {
        std::perror("portrix-demo: cannot make the install directory");
        return 1;
    }
#ifdef _WIN32
    const RegistryOverride registry;
    const std::string hive = registry.name();
    const bool registryReady = !hive.empty();
#else
    const std::string hive = installDir + "/hkcu.reg";
    setenv("PORTRIX_HKCU", hive.c_str(), 1);
    const bool registryReady = true;
#endif
    int result = 1;
    if (!registryReady || !WriteInstallPath(installDir)) {
        std::fprintf(stderr, "portrix-demo: cannot write the install path into %s\n", hive.c_str());
    } else {
        std::printf("install directory %s (registry hive %s)\n", installDir.c_str(), hive.c_str());
        const std::string modulePath = HostModulePath();
        HMODULE host = LoadLibraryA(modulePath.c_str());
        FARPROC entry = host != nullptr ? GetProcAddress(host, kHostEntry) : nullptr;
        if (entry == nullptr) {
            std::fprintf(stderr, "portrix-demo: cannot load %s (error %lu)\n", modulePath.c_str(),
                         static_cast<unsigned long>(GetLastError()));
        } else {
            // FARPROC stands for any entry; GetProcAddress's callers cast through void(*)() to
            // the entry's real type, as on the original platform.
            result = reinterpret_cast<DemoEntry>(reinterpret_cast<void (*)()>(entry))(
                argc, argv, installDir.c_str());
        }
        // The host module stays loaded: the download library's threads end with the process.
    }
    std::error_code ignored;
    fs::remove_all(installDir, ignored);
    if (result > demo::kStoppedBySignal) {
        const int signal = result - demo::kStoppedBySignal;
        std::signal(signal, SIG_DFL);
        std::raise(signal);
    }
    return result;
}
