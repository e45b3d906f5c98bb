#include "ole/decoded_image.h"

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

}  // namespace platform_ole
