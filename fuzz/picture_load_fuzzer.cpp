// Arbitrary bytes through OleLoadPicture, the path every picture format takes (GIF also has a
// fuzzer of its own through the control): a picture that loads is measured and rendered into
// a small memory surface, then released. A GIF is only checked when it loads and decoded when
// it is first drawn, so a picture that loaded and then fails to draw is a fault.
#include <cstdint>
#include <cstring>

#include "draw_or_trap.h"
#include "ole2.h"
#include "olectl.h"
#include "windows.h"

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
        DrawOrTrap(picture);
        picture->Release();
    }
    stream->Release();  // frees the block
    return 0;
}
