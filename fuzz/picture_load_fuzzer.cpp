// Arbitrary bytes through OleLoadPicture, the path every picture format takes (GIF also has a
// fuzzer of its own through the control): a picture that loads is measured and rendered into
// a small memory surface, then released. A GIF is only checked when it loads and decoded when
// it is first drawn, so a picture that loaded and then fails to draw is a fault.
#include <cstdint>
#include <cstring>

#include "ole2.h"
#include "olectl.h"
#include "windows.h"

namespace {

constexpr int kSurfaceSide = 16;

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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    if (size == 0 || size > 0x7FFFFFFFu) return 0;
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, size);
    if (block == nullptr) return 0;
    std::memcpy(GlobalLock(block), bytes, size);
    GlobalUnlock(block);
    IStream* stream = nullptr;
    if (CreateStreamOnHGlobal(block, TRUE, &stream) != S_OK) {
        GlobalFree(block);
        return 0;
    }
    IPicture* picture = nullptr;
    if (OleLoadPicture(stream, static_cast<LONG>(size), FALSE, IID_IPicture,
                       reinterpret_cast<void**>(&picture)) == S_OK) {
        OLE_XSIZE_HIMETRIC width = 0;
        OLE_YSIZE_HIMETRIC height = 0;
        picture->get_Width(&width);
        picture->get_Height(&height);
        if (FAILED(picture->Render(Surface(), 0, 0, kSurfaceSide, kSurfaceSide, 0, height, width,
                                   -height, nullptr)))
            __builtin_trap();
        picture->Release();
    }
    stream->Release();  // frees the block
    return 0;
}
