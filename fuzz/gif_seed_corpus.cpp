// Writes the GIF fuzzer's seed corpus into the folder given as the only argument: small files
// that reach every block kind, colour table sizes, disposals and the damaged-file paths.
#include <cstdio>
#include <string>
#include <vector>

#include "gif_builder.h"

using gif_test::GifBuilder;

namespace {

bool Write(const std::string& dir, const std::string& name, const std::vector<uint8_t>& bytes) {
    const std::string path = dir + "/" + name;
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <corpus folder>\n", argv[0]);
        return 2;
    }
    const std::string dir = argv[1];
    std::vector<std::pair<std::string, std::vector<uint8_t>>> seeds;

    GifBuilder still;
    still.Header("87a").Screen(6, 4, 0).SolidImage(1, 1, 3, 2, 1).Trailer();
    seeds.emplace_back("still87a.gif", still.Bytes());

    GifBuilder animated;
    animated.Header().Screen(8, 8, 2).Loop(0).Comment("seed");
    animated.GraphicControl(5, 2, 0).SolidImage(0, 0, 8, 8, 1);
    animated.GraphicControl(0, 3).Comment("inner").SolidImage(2, 2, 3, 3, 2, 1);
    animated.PlainText(0, 0, 8, 8, "T");
    animated.SolidImage(4, 4, 4, 4, 3);
    animated.Trailer();
    seeds.emplace_back("animated.gif", animated.Bytes());

    GifBuilder noTable;
    noTable.Header().Screen(4, 4, -1).GraphicControl(-1 & 0xFFFF, 1).SolidImage(0, 0, 4, 4, 0, 0);
    noTable.SolidImage(0, 0, 2, 2, 1, 0);
    seeds.emplace_back("no_global_table_no_trailer.gif", noTable.Bytes());

    GifBuilder bigTable;
    std::vector<uint8_t> ramp(16 * 16);
    for (size_t i = 0; i < ramp.size(); ++i) ramp[i] = static_cast<uint8_t>(i);
    bigTable.Header()
        .Screen(16, 16, 7)
        .Image(0, 0, 16, 16, ramp)
        .Image(0, 0, 16, 16, ramp)
        .Trailer();
    seeds.emplace_back("table768.gif", bigTable.Bytes());

    std::vector<uint8_t> cut = animated.Bytes();
    cut.resize(cut.size() * 2 / 3);
    seeds.emplace_back("truncated.gif", cut);

    seeds.emplace_back("not_a_gif.bin", std::vector<uint8_t>{'B', 'M', 0, 0, 0, 0});

    for (const auto& [name, bytes] : seeds) {
        if (!Write(dir, name, bytes)) {
            std::fprintf(stderr, "cannot write %s/%s\n", dir.c_str(), name.c_str());
            return 1;
        }
    }
    return 0;
}
