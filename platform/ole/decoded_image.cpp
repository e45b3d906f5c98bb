#include "ole/decoded_image.h"

#include <algorithm>

namespace platform_ole {

bool PictureSizeAllowed(uint64_t width, uint64_t height) {
    if (width == 0 || height == 0) return false;
    if (width > kMaxPictureSide || height > kMaxPictureSide) return false;
    return width * height <= kMaxPicturePixels;  // both at most 8192: no overflow
}

bool AllocateImage(DecodedImage* image, uint64_t width, uint64_t height) {
    if (!PictureSizeAllowed(width, height)) return false;
    image->pixels.assign(static_cast<size_t>(width * height), 0u);
    image->width = static_cast<int>(width);
    image->height = static_cast<int>(height);
    return true;
}

void FindTransparency(DecodedImage* image) {
    image->transparent = std::any_of(image->pixels.begin(), image->pixels.end(),
                                     [](uint32_t pixel) { return (pixel >> 24) != 0xFF; });
}

void DecodedImage::CopyRow(int y, uint32_t* out) const {
    if (!Indexed()) {
        std::copy_n(Row(y), width, out);
        return;
    }
    const uint8_t* in = IndexRow(y);
    for (int x = 0; x < width; ++x) out[x] = palette->argb[in[x]];
}

}  // namespace platform_ole
