// Reading the demo's GIF files back with giflib, independently of the platform's decoder.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace demo_test {

struct ReadFrame {
    int x = 0, y = 0, width = 0, height = 0;
    int delay = 0, disposal = 0, transparent = -1;
    std::vector<uint32_t> rgb;  // 0x00RRGGBB, or 0xFF000000 for a transparent pixel
};

struct ReadGif {
    int width = 0, height = 0;
    std::vector<ReadFrame> frames;
};

bool ReadGifFile(const std::string& path, ReadGif* gif);

constexpr uint32_t kSeeThrough = 0xFF000000u;

}  // namespace demo_test
