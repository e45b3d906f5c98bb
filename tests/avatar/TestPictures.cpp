#include "TestPictures.h"

#include <gif_lib.h>

#include <fstream>
#include <vector>

namespace {

int AppendToString(GifFileType* gif, const GifByteType* bytes, int count) {
    static_cast<std::string*>(gif->UserData)
        ->append(reinterpret_cast<const char*>(bytes), static_cast<size_t>(count));
    return count;
}

}  // namespace

std::string SolidGifBytes(int width, int height, uint32_t rgb, size_t paddingBytes) {
    std::string bytes;
    int error = 0;
    GifFileType* gif = EGifOpen(&bytes, &AppendToString, &error);
    if (gif == nullptr) return "";
    GifColorType colors[2] = {
        {static_cast<GifByteType>(rgb >> 16), static_cast<GifByteType>(rgb >> 8),
         static_cast<GifByteType>(rgb)},
        {0, 0, 0},
    };
    ColorMapObject* map = GifMakeMapObject(2, colors);
    const std::string padding(paddingBytes, 'p');
    bool ok = map != nullptr && EGifPutScreenDesc(gif, width, height, 1, 0, map) == GIF_OK &&
              (padding.empty() || EGifPutComment(gif, padding.c_str()) == GIF_OK) &&
              EGifPutImageDesc(gif, 0, 0, width, height, false, nullptr) == GIF_OK;
    std::vector<GifPixelType> line(static_cast<size_t>(width), 0);
    for (int y = 0; ok && y < height; ++y) ok = EGifPutLine(gif, line.data(), width) == GIF_OK;
    GifFreeMapObject(map);
    if (EGifCloseFile(gif, &error) != GIF_OK) ok = false;
    return ok ? bytes : "";
}

bool WriteSolidGif(const std::string& path, int width, int height, uint32_t rgb) {
    const std::string bytes = SolidGifBytes(width, height, rgb);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return !bytes.empty() && out.good();
}
