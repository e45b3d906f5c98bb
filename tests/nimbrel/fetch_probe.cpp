// Helper of the store tests: a host process of its own that asks for one picture and waits
// until the store holds the bytes it expects.
//
// Usage: nimbrel_fetch_probe <server address> <store root> <user id> <image type> <expected file>
//                            [idle]
// With "idle" it then also waits for the library to close its idle connection to the server.
// Exit status: 0 once the picture holds the expected bytes (and, with "idle", the connection
// was kept after the transfer and closed later), 2 when it never did, 3 when no connection
// was kept, 4 when the kept one was never closed.
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "AvatarDownload.h"
#include "TempStore.h"

namespace {

constexpr char kEstablished[] = "01";

// This host's established TCP connections to the port, from the kernel's table.
int ConnectionsTo(int port) {
    std::ifstream table("/proc/net/tcp");
    int found = 0;
    std::string line;
    std::getline(table, line);  // the header
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state;
        fields >> slot >> local >> remote >> state;
        const size_t colon = remote.find(':');
        if (colon != std::string::npos && state == kEstablished &&
            std::stoi(remote.substr(colon + 1), nullptr, 16) == port)
            ++found;
    }
    return found;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 6 && argc != 7) return 64;
    const std::string address = argv[1];
    const std::string root = argv[2];  // backslash-ended, as the control passes it
    const int imageType = std::atoi(argv[4]);
    if (imageType < 1 || imageType > 3) return 64;
    static const char* const kSubDirectories[] = {"Body/", "Up/", "Face/"};
    const std::string expected = nimbrel_test::ReadFile(argv[5]).value_or("");
    const bool idle = argc == 7 && std::string(argv[6]) == "idle";

    std::string picture =
        root.substr(0, root.size() - 1) + "/" + kSubDirectories[imageType - 1] + argv[3] + ".gif";
    for (char& ch : picture) ch = ch == '\\' ? '/' : ch;

    CAvatarDownload download;
    download.StartDownload(argv[3], address.c_str(), root.c_str(), imageType, 0);
    if (!nimbrel_test::WaitForContent(picture, expected)) return 2;
    if (!idle) return 0;
    const int port = std::atoi(address.substr(address.rfind(':') + 1).c_str());
    if (ConnectionsTo(port) == 0) return 3;
    return nimbrel_test::WaitFor([&] { return ConnectionsTo(port) == 0; }) ? 0 : 4;
}
