// Shared by the picture benchmarks: animations built in memory and a hidden host window.
#pragma once

#include <AnimatedPicture.h>

#include <cstdint>
#include <vector>

#include "gif_builder.h"

namespace picture_bench {

// frames frames of size x size, each a different pattern over a 256-colour table.
inline std::vector<uint8_t> Animation(int frames, int size, int delay) {
    gif_test::GifBuilder b;
    b.Header().Screen(size, size, 7).Loop(0);
    std::vector<uint8_t> raster(static_cast<size_t>(size) * size);
    for (int f = 0; f < frames; ++f) {
        for (int y = 0; y < size; ++y) {
            for (int x = 0; x < size; ++x) {
                raster[static_cast<size_t>(y) * size + x] =
                    static_cast<uint8_t>(((x + f * 3) / 8 + (y / 8) * 5 + f) & 0xFF);
            }
        }
        b.GraphicControl(delay, 1).Image(0, 0, size, size, raster);
    }
    b.Trailer();
    return b.Bytes();
}

struct HiddenHost {
    HiddenHost() {
        dialog = CreateWindowExA(0, WC_DIALOG, "bench", WS_POPUP, 0, 0, 400, 400, nullptr, nullptr,
                                 nullptr, nullptr);
        child = CreateWindowExA(0, WC_STATIC, "", WS_CHILD | WS_VISIBLE, 0, 0, 16, 16, dialog,
                                nullptr, nullptr, nullptr);
    }
    ~HiddenHost() { DestroyWindow(dialog); }
    HWND dialog;
    HWND child;
};

inline HGLOBAL ToGlobal(const std::vector<uint8_t>& bytes) {
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, bytes.size());
    void* p = GlobalLock(block);
    std::copy(bytes.begin(), bytes.end(), static_cast<uint8_t*>(p));
    GlobalUnlock(block);
    return block;
}

}  // namespace picture_bench
