#include "TestPictures.h"

#include <gif_lib.h>

#include <vector>

bool WriteSolidGif(const std::string& path, int width, int height, uint32_t rgb) {
    int error = 0;
    GifFileType* gif = EGifOpenFileName(path.c_str(), false, &error);
    if (gif == nullptr) return false;
    GifColorType colors[2] = {
        {static_cast<GifByteType>(rgb >> 16), static_cast<GifByteType>(rgb >> 8), static_cast<GifByteType>(rgb)},
        {0, 0, 0},
    };
    ColorMapObject* map = GifMakeMapObject(2, colors);
    bool ok = map != nullptr && EGifPutScreenDesc(gif, width, height, 1, 0, map) == GIF_OK &&
              EGifPutImageDesc(gif, 0, 0, width, height, false, nullptr) == GIF_OK;
    std::vector<GifPixelType> line(static_cast<size_t>(width), 0);
    for (int y = 0; ok && y < height; ++y) ok = EGifPutLine(gif, line.data(), width) == GIF_OK;
    GifFreeMapObject(map);
    if (EGifCloseFile(gif, &error) != GIF_OK) ok = false;
    return ok;
}
