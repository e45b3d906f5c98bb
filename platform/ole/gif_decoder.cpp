// GIF through giflib: the first image of the file, at its own size (not the logical screen's),
// so that a frame cut out of an animation decodes to exactly its own rectangle.
#include <gif_lib.h>

#include <algorithm>
#include <vector>

#include "ole/decoded_image.h"

namespace platform_ole {
namespace {

int ReadFromMemory(GifFileType* gif, GifByteType* buffer, int length) {
    auto* source = static_cast<MemorySource*>(gif->UserData);
    if (length <= 0) return 0;
    size_t count = std::min(static_cast<size_t>(length), source->Remaining());
    source->Take(buffer, count);
    return static_cast<int>(count);
}

struct GifCloser {
    GifFileType* gif;
    ~GifCloser() {
        int error = 0;
        if (gif) DGifCloseFile(gif, &error);
    }
};

constexpr int kNoTransparency = -1;

// The transparent index announced by a graphic control extension, or kNoTransparency.
int TransparentIndexOf(const GifByteType* block) {
    // block[0] is the sub-block length, then packed byte, delay (2), transparent index.
    if (block == nullptr || block[0] < 4) return kNoTransparency;
    return (block[1] & 0x01) ? block[4] : kNoTransparency;
}

// Interlaced rows arrive in four passes: every 8th row from 0, every 8th from 4, every 4th
// from 2, every 2nd from 1.
std::vector<int> RowOrder(int height, bool interlaced) {
    std::vector<int> order;
    order.reserve(static_cast<size_t>(height));
    if (!interlaced) {
        for (int y = 0; y < height; ++y) order.push_back(y);
        return order;
    }
    static const int kStart[] = {0, 4, 2, 1};
    static const int kStep[] = {8, 8, 4, 2};
    for (int pass = 0; pass < 4; ++pass) {
        for (int y = kStart[pass]; y < height; y += kStep[pass]) order.push_back(y);
    }
    return order;
}

bool DecodeImageRecord(GifFileType* gif, int transparentIndex, DecodedImage* image) {
    if (DGifGetImageDesc(gif) == GIF_ERROR) return false;
    const GifImageDesc& desc = gif->Image;
    if (desc.Width <= 0 || desc.Height <= 0) return false;
    if (!PictureSizeAllowed(static_cast<uint64_t>(desc.Width), static_cast<uint64_t>(desc.Height)))
        return false;
    // Without any colour table the indices mean nothing: such a file is refused.
    const ColorMapObject* map = desc.ColorMap ? desc.ColorMap : gif->SColorMap;
    if (map == nullptr || map->Colors == nullptr || map->ColorCount <= 0) return false;

    DecodedImage decoded;
    if (!AllocateImage(&decoded, static_cast<uint64_t>(desc.Width), static_cast<uint64_t>(desc.Height)))
        return false;
    std::vector<GifPixelType> indices(static_cast<size_t>(desc.Width));
    for (int y : RowOrder(desc.Height, desc.Interlace)) {
        if (DGifGetLine(gif, indices.data(), desc.Width) == GIF_ERROR) return false;
        uint32_t* row = decoded.Row(y);
        for (int x = 0; x < desc.Width; ++x) {
            int index = indices[static_cast<size_t>(x)];
            if (index == transparentIndex) {
                row[x] = 0;
                continue;
            }
            if (index >= map->ColorCount) return false;  // an index past the table: corrupt
            const GifColorType& c = map->Colors[index];
            row[x] = MakeArgb(0xFF, c.Red, c.Green, c.Blue);
        }
    }
    *image = std::move(decoded);
    return true;
}

bool SkipExtension(GifFileType* gif, int* transparentIndex) {
    int code = 0;
    GifByteType* block = nullptr;
    if (DGifGetExtension(gif, &code, &block) == GIF_ERROR) return false;
    // The last graphic control extension before the image is the one that applies to it.
    if (code == GRAPHICS_EXT_FUNC_CODE) *transparentIndex = TransparentIndexOf(block);
    while (block != nullptr) {
        if (DGifGetExtensionNext(gif, &block) == GIF_ERROR) return false;
    }
    return true;
}

}  // namespace

bool DecodeGif(const uint8_t* data, size_t size, DecodedImage* image) {
    MemorySource source{data, size, 0};
    int error = 0;
    GifCloser file{DGifOpen(&source, ReadFromMemory, &error)};
    if (file.gif == nullptr) return false;

    int transparentIndex = kNoTransparency;
    for (;;) {
        GifRecordType type = UNDEFINED_RECORD_TYPE;
        if (DGifGetRecordType(file.gif, &type) == GIF_ERROR) return false;
        switch (type) {
            case IMAGE_DESC_RECORD_TYPE:
                return DecodeImageRecord(file.gif, transparentIndex, image);
            case EXTENSION_RECORD_TYPE:
                if (!SkipExtension(file.gif, &transparentIndex)) return false;
                break;
            default:  // the trailer before any image, or an unknown block
                return false;
        }
    }
}

}  // namespace platform_ole
