// Every file of the public GIF conformance suite through LoadFile and a short playback: none may
// crash, leak or hang (run under the sanitizers by CI). The suite is read in place.
#include <gtest/gtest.h>

#include <dirent.h>

#include <algorithm>
#include <string>
#include <vector>

#include "picture_harness.h"

namespace {

std::vector<std::string> GifFiles(const std::string& dir) {
    std::vector<std::string> files;
    DIR* d = opendir(dir.c_str());
    if (d == nullptr) return files;
    while (dirent* entry = readdir(d)) {
        const std::string name = entry->d_name;
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ".gif") == 0) {
            files.push_back(dir + "/" + name);
        }
    }
    closedir(d);
    std::sort(files.begin(), files.end());
    return files;
}

}  // namespace

TEST(GifConformance, EveryFileLoadsPlaysAndStops) {
    const std::vector<std::string> files = GifFiles(PORTRIX_GIF_CONFORMANCE_DIR);
    if (files.empty()) {
        GTEST_SKIP() << "GIF conformance suite not found at " << PORTRIX_GIF_CONFORMANCE_DIR;
    }
    HostWindows host;
    PictureProbe control;
    ASSERT_TRUE(control.SubclassWindow(host.child()));
    int loaded = 0;
    int animated = 0;
    for (const std::string& file : files) {
        SCOPED_TRACE(file);
        if (!control.LoadFile(file.c_str())) continue;
        ++loaded;
        if (control.IsAnimated()) ++animated;
        control.StartDisplay();
        PumpUntil([] { return false; }, 20);
        control.StopPlayback();
        EXPECT_EQ(control.playbackThread, nullptr);
    }
    control.UnloadPicture();
    EXPECT_GT(loaded, 0);
    EXPECT_GT(animated, 0);
    std::printf("conformance: %zu files, %d loaded, %d animated\n", files.size(), loaded, animated);
}
