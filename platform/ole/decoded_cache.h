// Pictures shared by content. Private to the OLE family.
//
// Loading the same bytes again (the same file in several controls, the same frame cut from the
// same animation) hands out the picture source that is already in memory: its bytes and, once
// any picture made from it has been drawn, its decoded image, read-only, held by every picture
// object made from it and freed with the last. A source is found by a fast hash of the bytes
// and their length, and is handed out only when the bytes themselves are equal, so different
// bytes never share. The cache keeps no source alive by itself: what it holds beyond the
// pictures' own sources is one small entry per living source (plus the dead ones not yet
// swept), so its memory is bounded by what the pictures hold.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "ole/decoded_image.h"

namespace platform_ole {

// The bytes of one picture, hashed once.
struct Content {
    const uint8_t* data;
    size_t size;
    uint64_t hash;
};

Content ContentOf(const uint8_t* data, size_t size);

using Decoder = bool (*)(const uint8_t*, size_t, DecodedImage*);

// A picture's bytes and its decoded image. Built either decoded, or with bytes that were only
// checked, which the first caller of Image() then decodes, on its own thread, once: callers on
// other threads meanwhile wait for that decode and share its result.
class PictureSource {
public:
    // A copy of content's bytes, checked to decode into width x height pixels with decode.
    // May throw std::bad_alloc.
    PictureSource(const Content& content, Decoder decode, int width, int height);
    // A copy of content's bytes, decoded already into image. May throw std::bad_alloc.
    PictureSource(const Content& content, DecodedImage&& image);
    PictureSource(const PictureSource&) = delete;
    PictureSource& operator=(const PictureSource&) = delete;

    int Width() const { return width_; }
    int Height() const { return height_; }
    // The decoded image, or null when decoding failed (then for good) or memory ran out (then
    // a later call tries again).
    const DecodedImage* Image();
    // Pixel and index bytes of the image once it is decoded; 0 before.
    size_t DecodedBytes() const { return decodedBytes_.load(std::memory_order_acquire); }
    bool Holds(const Content& content) const;

private:
    void Keep(DecodedImage&& image);

    const std::vector<uint8_t> bytes_;
    const Decoder decode_;
    const int width_;
    const int height_;
    std::once_flag decoded_;
    std::unique_ptr<const DecodedImage> image_;  // written only inside decoded_'s call
    std::atomic<size_t> decodedBytes_{0};
};

// The living source of bytes equal to content's, or null.
std::shared_ptr<PictureSource> FindSource(const Content& content);

// Shares made as the source of content's bytes and returns it, or returns the source another
// thread shared for the same bytes meanwhile (made is then dropped). May throw std::bad_alloc.
std::shared_ptr<PictureSource> ShareSource(const Content& content,
                                           std::shared_ptr<PictureSource> made);

// Pixel and index bytes of the images decoded and alive now, each counted once however many
// pictures hold it.
size_t SharedDecodedBytes();

}  // namespace platform_ole
