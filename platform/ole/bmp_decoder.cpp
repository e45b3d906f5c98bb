// BMP by a small reader of our own: a BITMAPFILEHEADER, then a BITMAPINFOHEADER (or one of the
// larger V4/V5 headers, read through its first 40 bytes), uncompressed 1, 4, 8 bpp with a
// palette and 24 or 32 bpp, bottom-up or top-down. Anything else is refused. Every read is
// checked against the data's end.
#include <cstdint>

#include "ole/decoded_image.h"

namespace platform_ole {
namespace {

constexpr size_t kFileHeaderSize = 14;
constexpr uint32_t kInfoHeaderSize = 40;
constexpr uint32_t kLargestInfoHeaderSize = 124;  // BITMAPV5HEADER
constexpr uint32_t kBiRgb = 0;

class Reader {
public:
    Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    bool Has(size_t offset, size_t length) const {
        return offset <= size_ && length <= size_ - offset;
    }
    uint16_t U16(size_t offset) const {
        return static_cast<uint16_t>(data_[offset] | data_[offset + 1] << 8);
    }
    uint32_t U32(size_t offset) const {
        return static_cast<uint32_t>(data_[offset]) |
               static_cast<uint32_t>(data_[offset + 1]) << 8 |
               static_cast<uint32_t>(data_[offset + 2]) << 16 |
               static_cast<uint32_t>(data_[offset + 3]) << 24;
    }
    int32_t I32(size_t offset) const { return static_cast<int32_t>(U32(offset)); }
    const uint8_t* At(size_t offset) const { return data_ + offset; }

private:
    const uint8_t* data_;
    size_t size_;
};

struct BmpLayout {
    uint32_t width = 0;
    uint32_t height = 0;
    bool topDown = false;
    int bitCount = 0;
    size_t paletteOffset = 0;
    uint32_t paletteEntries = 0;
    size_t pixelOffset = 0;
    size_t stride = 0;
};

bool ReadLayout(const Reader& in, BmpLayout* layout) {
    if (!in.Has(0, kFileHeaderSize + 4) || in.U16(0) != 0x4D42) return false;  // "BM"
    uint32_t pixelOffset = in.U32(10);
    uint32_t infoSize = in.U32(kFileHeaderSize);
    if (infoSize < kInfoHeaderSize || infoSize > kLargestInfoHeaderSize) return false;
    if (!in.Has(kFileHeaderSize, infoSize)) return false;

    int32_t width = in.I32(kFileHeaderSize + 4);
    int32_t height = in.I32(kFileHeaderSize + 8);
    uint16_t planes = in.U16(kFileHeaderSize + 12);
    uint16_t bitCount = in.U16(kFileHeaderSize + 14);
    uint32_t compression = in.U32(kFileHeaderSize + 16);
    uint32_t colorsUsed = in.U32(kFileHeaderSize + 32);

    if (planes != 1 || compression != kBiRgb) return false;
    if (bitCount != 1 && bitCount != 4 && bitCount != 8 && bitCount != 24 && bitCount != 32)
        return false;
    if (width <= 0 || height == 0 || height == INT32_MIN) return false;
    layout->width = static_cast<uint32_t>(width);
    layout->topDown = height < 0;
    layout->height = static_cast<uint32_t>(height < 0 ? -height : height);
    if (!PictureSizeAllowed(layout->width, layout->height)) return false;
    layout->bitCount = bitCount;

    if (bitCount <= 8) {
        uint32_t maxEntries = 1u << bitCount;
        layout->paletteEntries = colorsUsed == 0 ? maxEntries : colorsUsed;
        if (layout->paletteEntries > maxEntries) return false;
        layout->paletteOffset = kFileHeaderSize + infoSize;
        if (!in.Has(layout->paletteOffset, static_cast<size_t>(layout->paletteEntries) * 4))
            return false;
    }

    // Rows are padded to whole 32-bit words. Width is at most 8192, so no step can overflow,
    // but the total is still checked against the data.
    layout->stride = (static_cast<size_t>(layout->width) * bitCount + 31) / 32 * 4;
    size_t pixelBytes = 0;
    if (!CheckedMul(layout->stride, layout->height, &pixelBytes)) return false;
    layout->pixelOffset = pixelOffset;
    return in.Has(layout->pixelOffset, pixelBytes);
}

uint32_t PaletteColor(const Reader& in, const BmpLayout& layout, uint32_t index) {
    // An index past the palette has no colour; it shows black, as GDI does.
    if (index >= layout.paletteEntries) return MakeArgb(0xFF, 0, 0, 0);
    const uint8_t* quad = in.At(layout.paletteOffset + static_cast<size_t>(index) * 4);
    return MakeArgb(0xFF, quad[2], quad[1], quad[0]);  // RGBQUAD is blue, green, red, reserved
}

void DecodeRow(const Reader& in, const BmpLayout& layout, const uint8_t* src, uint32_t* dst) {
    for (uint32_t x = 0; x < layout.width; ++x) {
        switch (layout.bitCount) {
            case 1:
                dst[x] = PaletteColor(in, layout, (src[x / 8] >> (7 - x % 8)) & 0x1);
                break;
            case 4:
                dst[x] = PaletteColor(in, layout, (src[x / 2] >> (x % 2 ? 0 : 4)) & 0xF);
                break;
            case 8:
                dst[x] = PaletteColor(in, layout, src[x]);
                break;
            case 24:
                dst[x] = MakeArgb(0xFF, src[x * 3 + 2], src[x * 3 + 1], src[x * 3]);
                break;
            default:  // 32: the fourth byte is reserved, not alpha, in an uncompressed bitmap
                dst[x] = MakeArgb(0xFF, src[x * 4 + 2], src[x * 4 + 1], src[x * 4]);
                break;
        }
    }
}

}  // namespace

bool DecodeBmp(const uint8_t* data, size_t size, DecodedImage* image) {
    Reader in(data, size);
    BmpLayout layout;
    if (!ReadLayout(in, &layout)) return false;

    DecodedImage decoded;
    if (!AllocateImage(&decoded, layout.width, layout.height)) return false;
    for (uint32_t row = 0; row < layout.height; ++row) {
        uint32_t y = layout.topDown ? row : layout.height - 1 - row;
        DecodeRow(in, layout, in.At(layout.pixelOffset + row * layout.stride),
                  decoded.Row(static_cast<int>(y)));
    }
    *image = std::move(decoded);
    return true;
}

}  // namespace platform_ole
