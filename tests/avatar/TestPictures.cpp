#include "TestPictures.h"

#include <fstream>

namespace {

void PutWord(std::string& bytes, int value) {
    bytes += static_cast<char>(value & 0xFF);
    bytes += static_cast<char>((value >> 8) & 0xFF);
}

// The image data of width x height pixels of colour 0, LZW-coded with the smallest code size
// (2): three-bit codes, a clear code before every two pixels so that the code width never grows.
std::string SolidImageData(int width, int height) {
    constexpr int kClear = 4;
    constexpr int kEnd = 5;
    constexpr int kCodeBits = 3;
    std::string packed;
    unsigned buffer = 0;
    int bits = 0;
    auto emit = [&](int code) {
        buffer |= static_cast<unsigned>(code) << bits;
        for (bits += kCodeBits; bits >= 8; bits -= 8, buffer >>= 8)
            packed += static_cast<char>(buffer & 0xFF);
    };
    const long pixels = static_cast<long>(width) * height;
    for (long i = 0; i < pixels; ++i) {
        if (i % 2 == 0) emit(kClear);
        emit(0);
    }
    emit(kEnd);
    if (bits > 0) packed += static_cast<char>(buffer & 0xFF);
    std::string data(1, '\x02');  // the smallest code size
    for (size_t at = 0; at < packed.size(); at += 255) {
        const std::string block = packed.substr(at, 255);
        data += static_cast<char>(block.size());
        data += block;
    }
    data += '\0';
    return data;
}

}  // namespace

std::string SolidGifBytes(int width, int height, uint32_t rgb, size_t paddingBytes) {
    if (width <= 0 || height <= 0 || width > 0xFFFF || height > 0xFFFF) return "";
    std::string bytes = "GIF89a";
    PutWord(bytes, width);
    PutWord(bytes, height);
    bytes += '\x80';  // a global colour table of two entries
    bytes += '\0';    // background colour
    bytes += '\0';    // no aspect ratio
    bytes += static_cast<char>((rgb >> 16) & 0xFF);
    bytes += static_cast<char>((rgb >> 8) & 0xFF);
    bytes += static_cast<char>(rgb & 0xFF);
    bytes += std::string(3, '\0');
    if (paddingBytes > 0) {
        bytes += "\x21\xFE";  // a comment, in sub-blocks of at most 255 bytes
        for (size_t left = paddingBytes; left > 0;) {
            const size_t block = left < 255 ? left : 255;
            bytes += static_cast<char>(block);
            bytes += std::string(block, 'p');
            left -= block;
        }
        bytes += '\0';
    }
    bytes += '\x2C';
    PutWord(bytes, 0);
    PutWord(bytes, 0);
    PutWord(bytes, width);
    PutWord(bytes, height);
    bytes += '\0';  // no local table, not interlaced
    bytes += SolidImageData(width, height);
    bytes += '\x3B';
    return bytes;
}

bool WriteSolidGif(const std::string& path, int width, int height, uint32_t rgb) {
    const std::string bytes = SolidGifBytes(width, height, rgb);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return !bytes.empty() && out.good();
}
