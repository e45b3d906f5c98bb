// Builds GIF files in memory from readable pieces, for tests, benchmarks and the fuzz corpus.
// Each call appends one part of the file in order; offsets of interest can be taken with Size()
// between calls.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace gif_test {

struct Rgb {
    uint8_t r, g, b;
};

// 2^(exponent+1) distinct colours; colour i is what Pixel(i) reports.
std::vector<Rgb> Palette(int exponent);
// Colour i of Palette as 0x00RRGGBB.
uint32_t PaletteRgb(int exponent, int index);

class GifBuilder {
public:
    // "GIF" and the version ("87a", "89a", or anything else for the negative cases).
    GifBuilder& Header(const std::string& version = "89a");
    // Logical screen descriptor; a global colour table of 2^(tableExponent+1) entries follows
    // when tableExponent >= 0, filled from Palette.
    GifBuilder& Screen(int width, int height, int tableExponent = 1, uint8_t background = 0);
    // Graphic control extension: disposal 0..7, delay in hundredths, transparent index or -1.
    GifBuilder& GraphicControl(int delay, int disposal = 0, int transparent = -1);
    // Application extension "NETSCAPE2.0" asking for loopCount loops (0: for ever).
    GifBuilder& Loop(int loopCount = 0);
    GifBuilder& Comment(const std::string& text);
    // Plain text extension over the grid at (left, top), cells of 8x8, with the given text.
    GifBuilder& PlainText(int left, int top, int width, int height, const std::string& text);
    // Image descriptor, optional local colour table (exponent >= 0), LZW data of the indices
    // (row-major, width x height) in sub-blocks of at most 255 bytes.
    GifBuilder& Image(int left, int top, int width, int height, const std::vector<uint8_t>& indices,
                      int localTableExponent = -1);
    // An image of one colour index.
    GifBuilder& SolidImage(int left, int top, int width, int height, uint8_t index,
                           int localTableExponent = -1);
    GifBuilder& Trailer();
    // Anything else, byte by byte.
    GifBuilder& Raw(const std::vector<uint8_t>& bytes);

    size_t Size() const { return bytes_.size(); }
    const std::vector<uint8_t>& Bytes() const { return bytes_; }

private:
    void U8(int value) { bytes_.push_back(static_cast<uint8_t>(value)); }
    void U16(int value) {
        U8(value & 0xFF);
        U8((value >> 8) & 0xFF);
    }
    void ColorTable(int exponent);
    void SubBlocks(const std::vector<uint8_t>& payload);

    std::vector<uint8_t> bytes_;
};

}  // namespace gif_test
