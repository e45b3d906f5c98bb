// Arbitrary bytes through CAnimatedPicture::LoadMemory: recognition, the block scanner, the
// frame splitter, the picture loader and the surfaces. Each input is loaded, every picture it
// gave is drawn once (the loader only checks a GIF; its pixels are decoded at the first draw, so
// a picture that loaded and then fails to draw is a fault), and unloaded.
#include <AnimatedPicture.h>

#include <cstdint>
#include <cstring>

namespace {

constexpr int kSurfaceSide = 16;

// Reaches the pictures the control made from the input.
class FuzzedPicture : public CAnimatedPicture {
public:
    void DrawEveryPicture(HDC target) {
        if (picture != nullptr) Draw(picture, target);
        for (int i = 0; i < frames.GetSize(); ++i) Draw(frames[i].picture, target);
    }

private:
    static void Draw(IPicture* drawn, HDC target) {
        if (drawn == nullptr) return;
        OLE_XSIZE_HIMETRIC width = 0;
        OLE_YSIZE_HIMETRIC height = 0;
        drawn->get_Width(&width);
        drawn->get_Height(&height);
        if (FAILED(drawn->Render(target, 0, 0, kSurfaceSide, kSurfaceSide, 0, height, width,
                                 -height, nullptr)))
            __builtin_trap();
    }
};

// A memory DC with a bitmap selected, made on first use and kept for the whole run.
HDC Surface() {
    static HDC dc = [] {
        HDC screen = GetDC(nullptr);
        HDC memory = CreateCompatibleDC(screen);
        SelectObject(memory, CreateCompatibleBitmap(screen, kSurfaceSide, kSurfaceSide));
        ReleaseDC(nullptr, screen);
        return memory;
    }();
    return dc;
}

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
    if (control.LoadMemory(block, static_cast<DWORD>(size))) control.DrawEveryPicture(Surface());
    control.UnloadPicture();
    GlobalFree(block);
    return 0;
}
