// Helper of download_test: starts an endless download and ends the process with exit()
// while the object that asked for it is still alive, so that only the library's own
// clean-up at unload can stop the transfer.
//
// Usage: nimbrel_exit_probe <server address> <store root>
// Exit status: 0 after a normal exit, 2 when the transfer never started writing.
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "AvatarDownload.h"

// Reachable from a global, so leak checkers do not count it: the process ends with it alive.
CAvatarDownload* g_neverDestroyed = nullptr;

int main(int argc, char** argv) {
    if (argc != 3) return 64;
    const std::string root = argv[2];
    g_neverDestroyed = new CAvatarDownload;
    g_neverDestroyed->StartDownload("endless", argv[1], root.c_str(), 2, 5);

    const std::filesystem::path up = std::filesystem::path(root.substr(0, root.size() - 1)) / "Up";
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
        for (const auto& entry : std::filesystem::directory_iterator(up)) {
            if (entry.path().filename().string().rfind(".nimbrel-", 0) == 0) std::exit(0);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return 2;
}
