// The GIF decoder's own LZW decoding against giflib's on the same bytes. Whatever the load's
// check accepts, the own decoder decodes, and so does giflib unless the LZW minimum code size is
// past its 8 bits, to the same indices, palette and transparency; whatever the own decoder
// decodes to indices of the colour table, the check accepts. Whatever the bytes, neither reads
// or writes outside its buffers (ASan).
#include <cstdint>
#include <cstring>

#include "ole/decoded_image.h"
#include "ole/gif_codes.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    using namespace platform_ole;
    DecodedImage direct, reference;
    const bool decoded = DecodeGifDirect(bytes, size, &direct);
    GifFacts facts;
    if (!CheckGif(bytes, size, &facts)) {
        // The check refuses only what the own decoder refuses, and indices outside the colour
        // table, which the decoder leaves to the drawing.
        gif::FirstImage first;
        if (!decoded || !gif::ReadFirstImage(bytes, size, &first)) return 0;
        const size_t count = static_cast<size_t>(direct.width) * static_cast<size_t>(direct.height);
        for (size_t i = 0; i < count; ++i) {
            const int index = direct.indices[i];
            if (index >= first.colours && index != first.transparent) return 0;
        }
        __builtin_trap();
    }
    if (!decoded) __builtin_trap();
    if (!DecodeGifWithGiflib(bytes, size, &reference)) {
        gif::FirstImage first;
        if (!gif::ReadFirstImage(bytes, size, &first) || first.codeSize <= gif::kGiflibMaxCodeSize)
            __builtin_trap();
        return 0;
    }
    const size_t count = static_cast<size_t>(direct.width) * static_cast<size_t>(direct.height);
    if (direct.width != facts.width || direct.height != facts.height ||
        direct.width != reference.width || direct.height != reference.height ||
        direct.transparent != reference.transparent ||
        std::memcmp(direct.indices.get(), reference.indices.get(), count) != 0 ||
        std::memcmp(direct.palette->argb, reference.palette->argb, sizeof direct.palette->argb) !=
            0)
        __builtin_trap();
    return 0;
}
