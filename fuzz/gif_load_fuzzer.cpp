// Arbitrary bytes through CAnimatedPicture::LoadMemory: recognition, the block scanner, the
// frame splitter, the picture loader and the surfaces. Each input is loaded, every picture it
// gave is drawn once (the loader only checks a GIF; its pixels are decoded at the first draw, so
// a picture that loaded and then fails to draw is a fault), and unloaded.
#include <AnimatedPicture.h>

#include <cstdint>
#include <cstring>

#include "draw_or_trap.h"

namespace {

// Reaches the pictures the control made from the input.
class FuzzedPicture : public CAnimatedPicture {
public:
    void DrawEveryPicture() {
        if (picture != nullptr) DrawOrTrap(picture);
        for (int i = 0; i < frames.GetSize(); ++i) {
            if (frames[i].picture != nullptr) DrawOrTrap(frames[i].picture);
        }
    }
};

// One hidden dialog with a static child, made on first use and kept for the whole run:
// LoadMemory sizes the control and builds its surfaces from the window's DC.
FuzzedPicture& Control() {
    static FuzzedPicture* control = [] {
        HWND dialog = CreateWindowExA(0, WC_DIALOG, "fuzz", WS_POPUP, 0, 0, 64, 64, nullptr,
                                      nullptr, nullptr, nullptr);
        HWND child = CreateWindowExA(0, WC_STATIC, "", WS_CHILD | WS_VISIBLE, 0, 0, 16, 16, dialog,
                                     nullptr, nullptr, nullptr);
        auto* made = new FuzzedPicture;
        made->SubclassWindow(child);
        return made;
    }();
    return *control;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    if (size > 0xFFFFFFFFu) return 0;
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, size);
    if (block == nullptr) return 0;
    if (size > 0) {
        void* p = GlobalLock(block);
        std::memcpy(p, bytes, size);
        GlobalUnlock(block);
    }
    FuzzedPicture& control = Control();
    if (control.LoadMemory(block, static_cast<DWORD>(size))) control.DrawEveryPicture();
    control.UnloadPicture();
    GlobalFree(block);
    return 0;
}
