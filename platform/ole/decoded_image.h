// The decoders' common result: a bitmap of straight-alpha ARGB pixels, or of palette indices,
// and the limits that every decoder checks before it allocates one. Private to the OLE family.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

namespace platform_ole {

// Pictures come from the network: anything larger is refused before memory is allocated.
constexpr uint32_t kMaxPictureSide = 8192;
constexpr uint64_t kMaxPicturePixels = 32ull * 1024 * 1024;

// What the indices of an indexed picture stand for: 0xAARRGGBB, alpha 0xFF but 0 for the
// transparent index (no other alpha occurs). Entries past the file's colour table are never
// referred to.
struct Palette {
    static constexpr int kEntries = 256;
    uint32_t argb[kEntries];
};

// A picture is either direct (pixels) or indexed (indices and palette). Indexed pictures take a
// quarter of the memory, and several of them (the frames of one animation) share a palette.
struct DecodedImage {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> pixels;  // row-major, top row first, 0xAARRGGBB, alpha not premultiplied
    std::unique_ptr<uint8_t[]> indices;  // row-major, top row first, one byte per pixel
    std::shared_ptr<const Palette> palette;
    bool transparent = false;  // some pixel is not fully opaque

    bool Indexed() const { return indices != nullptr; }
    // Rows of a direct picture.
    uint32_t* Row(int y) { return pixels.data() + static_cast<size_t>(y) * width; }
    const uint32_t* Row(int y) const { return pixels.data() + static_cast<size_t>(y) * width; }
    // Rows of an indexed picture.
    const uint8_t* IndexRow(int y) const { return indices.get() + static_cast<size_t>(y) * width; }
    // Row y as width 0xAARRGGBB pixels, whichever the representation.
    void CopyRow(int y, uint32_t* out) const;
};

inline uint32_t MakeArgb(uint32_t a, uint32_t r, uint32_t g, uint32_t b) {
    return (a << 24) | (r << 16) | (g << 8) | b;
}

// TRUE when a picture of width x height pixels is within the limits (and not empty).
bool PictureSizeAllowed(uint64_t width, uint64_t height);
// Sizes the image to width x height, all pixels transparent black. False, leaving the image
// untouched, when the size is refused. May throw std::bad_alloc.
bool AllocateImage(DecodedImage* image, uint64_t width, uint64_t height);
// Sets image->transparent from the pixels of a direct picture.
void FindTransparency(DecodedImage* image);

// The encoded bytes, read front to back by a library's read callback.
struct MemorySource {
    const uint8_t* data;
    size_t size;
    size_t pos;

    size_t Remaining() const { return size - pos; }
    // Copies the next count bytes (count <= Remaining()) to out.
    void Take(void* out, size_t count) {
        std::memcpy(out, data + pos, count);
        pos += count;
    }
};

// Checked arithmetic for sizes taken from untrusted headers.
inline bool CheckedMul(size_t a, size_t b, size_t* out) {
    return !__builtin_mul_overflow(a, b, out);
}
inline bool CheckedAdd(size_t a, size_t b, size_t* out) {
    return !__builtin_add_overflow(a, b, out);
}

// Decoders: bytes in, picture out. Each returns false for data it cannot read completely, and
// leaves nothing allocated behind it but what it put into *image.
bool DecodeGif(const uint8_t* data, size_t size, DecodedImage* image);
// DecodeGif's own LZW decoding, and giflib's reading of the same bytes, the reference that a
// fuzzer compares it with.
bool DecodeGifDirect(const uint8_t* data, size_t size, DecodedImage* image);
bool DecodeGifWithGiflib(const uint8_t* data, size_t size, DecodedImage* image);
bool DecodePng(const uint8_t* data, size_t size, DecodedImage* image);
bool DecodeJpeg(const uint8_t* data, size_t size, DecodedImage* image);
bool DecodeBmp(const uint8_t* data, size_t size, DecodedImage* image);

// What a GIF's bytes promise before they are decoded: the size of its first image.
struct GifFacts {
    int width = 0;
    int height = 0;
};
// TRUE when DecodeGif will decode the bytes (short of memory running out), found without
// decoding them: every check of the decoder is made, the LZW codes are followed but produce no
// pixel. Slightly stricter than the decoder: a code that names no table entry is refused
// rather than decoded into arbitrary indices.
bool CheckGif(const uint8_t* data, size_t size, GifFacts* facts);

}  // namespace platform_ole
