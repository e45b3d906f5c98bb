// A square GIF of one colour, written with giflib: the pictures the benchmarks store and serve.
#pragma once

#include <gif_lib.h>

#include <cstdint>
#include <string>
#include <vector>

inline bool WriteSolidGif(const std::string& path, uint32_t rgb, int side) {
    int error = 0;
    GifFileType* gif = EGifOpenFileName(path.c_str(), false, &error);
    if (gif == nullptr) return false;
    GifColorType colors[2] = {{static_cast<GifByteType>(rgb >> 16),
                               static_cast<GifByteType>(rgb >> 8), static_cast<GifByteType>(rgb)},
                              {0, 0, 0}};
    ColorMapObject* map = GifMakeMapObject(2, colors);
    bool ok = EGifPutScreenDesc(gif, side, side, 1, 0, map) == GIF_OK &&
              EGifPutImageDesc(gif, 0, 0, side, side, false, nullptr) == GIF_OK;
    std::vector<GifPixelType> line(static_cast<size_t>(side), 0);
    for (int y = 0; ok && y < side; ++y) ok = EGifPutLine(gif, line.data(), side) == GIF_OK;
    GifFreeMapObject(map);
    return EGifCloseFile(gif, &error) == GIF_OK && ok;
}
