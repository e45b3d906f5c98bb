// Helper of download_test: the server's name takes long to resolve (this program's own
// getaddrinfo stands in for a name server that does not answer), and the library lets go of
// the request while the lookup still runs.
//
// Usage: nimbrel_slow_lookup_probe destroy <library> <store root>
//          the last object is destroyed during the lookup
//        nimbrel_slow_lookup_probe unload <library> <store root>
//          the library is unloaded during the lookup, then the lookup ends
// Exit status: 0 when the library let go at once and the process carried on; 1 when letting
// go waited for the lookup; 2 when the lookup never started; a signal when code of an
// unloaded library ran.
#include <dlfcn.h>
#include <netdb.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "AvatarDownload.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kLookupTime = std::chrono::seconds(15);
// Far more than letting go needs, far less than the lookup takes.
constexpr auto kLetGoLimit = std::chrono::seconds(4);

std::atomic<bool> g_lookupStarted{false};
std::atomic<bool> g_lookupReleased{false};

bool WaitForLookup() {
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    while (!g_lookupStarted && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return g_lookupStarted;
}

// The library's entry points, looked up by name so that the library can be unloaded again.
template <typename Function>
Function Symbol(void* library, const char* name) {
    return reinterpret_cast<Function>(dlsym(library, name));
}

alignas(CAvatarDownload) unsigned char g_object[sizeof(CAvatarDownload)];

}  // namespace

// Resolves nothing: holds the lookup until released, at most kLookupTime, then fails.
extern "C" int getaddrinfo(const char*, const char*, const struct addrinfo*,
                           struct addrinfo** result) {
    *result = nullptr;
    g_lookupStarted = true;
    const auto until = Clock::now() + kLookupTime;
    while (!g_lookupReleased && Clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return EAI_AGAIN;
}

int main(int argc, char** argv) {
    if (argc != 4) return 64;
    const bool unload = std::strcmp(argv[1], "unload") == 0;
    void* library = dlopen(argv[2], RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        std::fprintf(stderr, "%s\n", dlerror());
        return 64;
    }
    using Constructor = void (*)(void*);
    using Destructor = void (*)(void*);
    using Start =
        void (*)(void*, const CString&, const CString&, const CString&, const int&, const int&);
    const auto construct = Symbol<Constructor>(library, "_ZN15CAvatarDownloadC1Ev");
    const auto destroy = Symbol<Destructor>(library, "_ZN15CAvatarDownloadD1Ev");
    const auto start =
        Symbol<Start>(library, "_ZN15CAvatarDownload13StartDownloadERK7CStringS2_S2_RKiS4_");
    if (construct == nullptr || destroy == nullptr || start == nullptr) return 64;

    construct(g_object);
    const int type = 1;
    const int mode = 0;
    start(g_object, "10001", "slow-lookup.invalid", argv[3], type, mode);
    if (!WaitForLookup()) return 2;

    const auto before = Clock::now();
    if (unload) {
        dlclose(library);  // the library's own clean-up stops its worker
    } else {
        destroy(g_object);
    }
    const auto took = Clock::now() - before;
    // The lookup ends now; whatever waited for it runs on, in code that must still be there.
    g_lookupReleased = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    if (took > kLetGoLimit) {
        std::fprintf(stderr, "letting go took %lld ms\n",
                     static_cast<long long>(
                         std::chrono::duration_cast<std::chrono::milliseconds>(took).count()));
        return 1;
    }
    return 0;
}
