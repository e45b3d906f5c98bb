#include "gif_builder.h"

#include <algorithm>

#include "../support/handmade_bytes.h"

namespace gif_test {

std::vector<Rgb> Palette(int exponent) {
    std::vector<Rgb> colours;
    const int count = 1 << (exponent + 1);
    for (int i = 0; i < count; ++i) {
        const uint32_t rgb = PaletteRgb(exponent, i);
        colours.push_back(Rgb{static_cast<uint8_t>(rgb >> 16), static_cast<uint8_t>(rgb >> 8),
                              static_cast<uint8_t>(rgb)});
    }
    return colours;
}

uint32_t PaletteRgb(int exponent, int index) {
    // Small tables get strong, easily told colours; large ones a spread.
    static const uint32_t kFirst[] = {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFF00,
                                      0xFF00FF, 0x00FFFF, 0xFFFFFF, 0x000000};
    (void)exponent;
    if (index < 8) return kFirst[index];
    return (static_cast<uint32_t>(index * 37 % 256) << 16) |
           (static_cast<uint32_t>(index * 91 % 256) << 8) | static_cast<uint32_t>(index % 256);
}

GifBuilder& GifBuilder::Header(const std::string& version) {
    Raw({'G', 'I', 'F'});
    for (char c : version) U8(static_cast<uint8_t>(c));
    return *this;
}

void GifBuilder::ColorTable(int exponent) {
    for (const Rgb& c : Palette(exponent)) {
        U8(c.r);
        U8(c.g);
        U8(c.b);
    }
}

GifBuilder& GifBuilder::Screen(int width, int height, int tableExponent, uint8_t background) {
    U16(width);   // logical screen width
    U16(height);  // logical screen height
    // packed: global table flag (7), colour resolution - 1 (4-6), sort (3), table size (0-2)
    const int packed = tableExponent >= 0 ? (0x80 | (7 << 4) | (tableExponent & 7)) : (7 << 4);
    U8(packed);
    U8(background);  // background colour index
    U8(0);           // pixel aspect ratio: none given
    if (tableExponent >= 0) ColorTable(tableExponent);
    return *this;
}

GifBuilder& GifBuilder::GraphicControl(int delay, int disposal, int transparent) {
    U8(0x21);  // extension introducer
    U8(0xF9);  // graphic control label
    U8(4);     // block size
    // packed: disposal (2-4), user input (1), transparent colour flag (0)
    U8(((disposal & 7) << 2) | (transparent >= 0 ? 1 : 0));
    U16(delay);                              // delay, hundredths of a second
    U8(transparent >= 0 ? transparent : 0);  // transparent colour index
    U8(0);                                   // terminator
    return *this;
}

GifBuilder& GifBuilder::Loop(int loopCount) {
    U8(0x21);  // extension introducer
    U8(0xFF);  // application label
    U8(11);    // block size
    for (char c : std::string("NETSCAPE2.0")) U8(static_cast<uint8_t>(c));
    U8(3);  // sub-block: id 1, loop count
    U8(1);
    U16(loopCount);
    U8(0);  // terminator
    return *this;
}

GifBuilder& GifBuilder::Comment(const std::string& text) {
    U8(0x21);  // extension introducer
    U8(0xFE);  // comment label
    SubBlocks(std::vector<uint8_t>(text.begin(), text.end()));
    return *this;
}

GifBuilder& GifBuilder::PlainText(int left, int top, int width, int height,
                                  const std::string& text) {
    U8(0x21);  // extension introducer
    U8(0x01);  // plain text label
    U8(12);    // block size
    U16(left);
    U16(top);
    U16(width);
    U16(height);
    U8(8);  // cell width
    U8(8);  // cell height
    U8(1);  // foreground colour index
    U8(0);  // background colour index
    SubBlocks(std::vector<uint8_t>(text.begin(), text.end()));
    return *this;
}

GifBuilder& GifBuilder::Image(int left, int top, int width, int height,
                              const std::vector<uint8_t>& indices, int localTableExponent) {
    U8(0x2C);  // image separator
    U16(left);
    U16(top);
    U16(width);
    U16(height);
    // packed: local table flag (7), interlace (6), sort (5), table size (0-2)
    U8(localTableExponent >= 0 ? (0x80 | (localTableExponent & 7)) : 0);
    if (localTableExponent >= 0) ColorTable(localTableExponent);
    const int maxIndex = indices.empty() ? 0 : *std::max_element(indices.begin(), indices.end());
    int minCodeSize = 2;
    while ((1 << minCodeSize) <= maxIndex) ++minCodeSize;
    U8(minCodeSize);  // LZW minimum code size
    SubBlocks(portrix_test::LzwEncode(indices, minCodeSize));
    return *this;
}

GifBuilder& GifBuilder::SolidImage(int left, int top, int width, int height, uint8_t index,
                                   int localTableExponent) {
    return Image(left, top, width, height,
                 std::vector<uint8_t>(static_cast<size_t>(width) * height, index),
                 localTableExponent);
}

GifBuilder& GifBuilder::Trailer() {
    U8(0x3B);
    return *this;
}

GifBuilder& GifBuilder::Raw(const std::vector<uint8_t>& bytes) {
    bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
    return *this;
}

void GifBuilder::SubBlocks(const std::vector<uint8_t>& payload) {
    for (size_t at = 0; at < payload.size(); at += 255) {
        const size_t n = std::min<size_t>(255, payload.size() - at);
        U8(static_cast<int>(n));
        bytes_.insert(bytes_.end(), payload.begin() + at, payload.begin() + at + n);
    }
    U8(0);  // terminator
}

}  // namespace gif_test
