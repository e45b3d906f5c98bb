#include "GifReading.h"

#include <gif_lib.h>

namespace demo_test {

bool ReadGifFile(const std::string& path, ReadGif* gif) {
    int error = 0;
    GifFileType* file = DGifOpenFileName(path.c_str(), &error);
    if (file == nullptr) return false;
    if (DGifSlurp(file) != GIF_OK) {
        DGifCloseFile(file, &error);
        return false;
    }
    gif->width = file->SWidth;
    gif->height = file->SHeight;
    for (int i = 0; i < file->ImageCount; ++i) {
        const SavedImage& image = file->SavedImages[i];
        const ColorMapObject* map =
            image.ImageDesc.ColorMap ? image.ImageDesc.ColorMap : file->SColorMap;
        ReadFrame frame;
        frame.x = image.ImageDesc.Left;
        frame.y = image.ImageDesc.Top;
        frame.width = image.ImageDesc.Width;
        frame.height = image.ImageDesc.Height;
        GraphicsControlBlock control;
        if (DGifSavedExtensionToGCB(file, i, &control) == GIF_OK) {
            frame.delay = control.DelayTime;
            frame.disposal = control.DisposalMode;
            frame.transparent = control.TransparentColor;
        }
        for (int p = 0; p < frame.width * frame.height; ++p) {
            const int index = image.RasterBits[p];
            if (index == frame.transparent || map == nullptr || index >= map->ColorCount) {
                frame.rgb.push_back(kSeeThrough);
            } else {
                const GifColorType& c = map->Colors[index];
                frame.rgb.push_back(static_cast<uint32_t>(c.Red) << 16 |
                                    static_cast<uint32_t>(c.Green) << 8 | c.Blue);
            }
        }
        gif->frames.push_back(std::move(frame));
    }
    DGifCloseFile(file, &error);
    return true;
}

}  // namespace demo_test
