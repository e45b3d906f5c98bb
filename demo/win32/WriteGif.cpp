// The artwork's GIF writer on Windows, where Debian ships no giflib: the blocks that giflib's
// encoder writes on Linux (screen, global colour table, NETSCAPE2.0 loop, graphic control,
// image), with the LZW coder the tests build their GIFs with.
#include <algorithm>
#include <fstream>

#include "Artwork.h"
#include "handmade_bytes.h"

namespace demo {

bool WriteGif(const Artwork& art, const std::string& path) {
    if (art.palette.empty() || art.palette.size() > 256 || art.frames.empty()) return false;
    std::string out = "GIF89a";
    auto u8 = [&](int value) { out.push_back(static_cast<char>(value & 0xFF)); };
    auto u16 = [&](int value) {
        u8(value);
        u8(value >> 8);
    };
    const int bits = PaletteSizeExponent(art.palette.size());
    u16(art.width);
    u16(art.height);
    u8(0x80 | (bits - 1) << 4 | (bits - 1));  // global table, colour resolution, table size
    u8(0);                                    // background colour
    u8(0);                                    // aspect ratio
    for (size_t i = 0; i < (size_t{1} << bits); ++i) {
        const uint32_t rgb = i < art.palette.size() ? art.palette[i] : 0;
        u8(static_cast<int>(rgb >> 16));
        u8(static_cast<int>(rgb >> 8));
        u8(static_cast<int>(rgb));
    }
    if (art.IsAnimated()) out += std::string("\x21\xFF\x0BNETSCAPE2.0\x03\x01\x00\x00\x00", 19);
    for (const GifFrame& frame : art.frames) {
        if (art.IsAnimated() || frame.transparent >= 0) {
            u8(0x21);
            u8(0xF9);
            u8(4);
            u8(frame.disposal << 2 | (frame.transparent >= 0 ? 1 : 0));
            u16(frame.delay);
            u8(frame.transparent >= 0 ? frame.transparent : 0);
            u8(0);
        }
        u8(0x2C);
        u16(frame.x);
        u16(frame.y);
        u16(frame.width);
        u16(frame.height);
        u8(0);  // no local table, not interlaced
        const int minCodeSize = bits < 2 ? 2 : bits;
        u8(minCodeSize);
        const portrix_test::Bytes code = portrix_test::LzwEncode(frame.indices, minCodeSize);
        for (size_t at = 0; at < code.size(); at += 255) {
            const size_t length = std::min<size_t>(255, code.size() - at);
            u8(static_cast<int>(length));
            out.append(reinterpret_cast<const char*>(code.data()) + at, length);
        }
        u8(0);
    }
    u8(0x3B);
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(out.data(), static_cast<std::streamsize>(out.size()));
    return static_cast<bool>(file.flush());
}

}  // namespace demo
