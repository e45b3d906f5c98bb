// Helper of the store tests: a host process of its own that asks for one picture and waits
// until the store holds the bytes it expects.
//
// Usage: nimbrel_fetch_probe <server address> <store root> <user id> <image type> <expected file>
// Exit status: 0 once the picture holds the expected bytes, 2 when it never did.
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "AvatarDownload.h"
#include "TempStore.h"

int main(int argc, char** argv) {
    if (argc != 6) return 64;
    const std::string root = argv[2];  // backslash-ended, as the control passes it
    const int imageType = std::atoi(argv[4]);
    if (imageType < 1 || imageType > 3) return 64;
    static const char* const kSubDirectories[] = {"Body/", "Up/", "Face/"};
    const std::string expected = nimbrel_test::ReadFile(argv[5]).value_or("");

    std::string picture =
        root.substr(0, root.size() - 1) + "/" + kSubDirectories[imageType - 1] + argv[3] + ".gif";
    for (char& ch : picture) ch = ch == '\\' ? '/' : ch;

    CAvatarDownload download;
    download.StartDownload(argv[3], argv[1], root.c_str(), imageType, 0);
    return nimbrel_test::WaitForContent(picture, expected) ? 0 : 2;
}
