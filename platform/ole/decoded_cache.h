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
// other threads meanwhile wait for that decode and share its result. Once decoded, the bytes
// are let go (the image is what the pictures need): a later load of the same bytes can then no
// longer be matched by them, and makes a source of its own, whose image, once decoded, is
// exchanged for an equal one already in memory, so that the pixels are still held once.
class PictureSource {
public:
    // A copy of content's bytes, checked to decode into width x height pixels with decode.
    // May throw std::bad_alloc.
    PictureSource(const Content& content, Decoder decode, int width, int height);
    // Decoded already into image, from content's bytes. May throw std::bad_alloc.
    PictureSource(const Content& content, DecodedImage&& image);
    PictureSource(const PictureSource&) = delete;
    PictureSource& operator=(const PictureSource&) = delete;

    int Width() const { return width_; }
    int Height() const { return height_; }
    uint64_t Hash() const { return hash_; }
    size_t Size() const { return size_; }
    // The decoded image, or null when decoding failed (then for good) or memory ran out (then
    // a later call tries again).
    const DecodedImage* Image();
    // The image if it has been decoded, else null.
    std::shared_ptr<const DecodedImage> Decoded() const { return std::atomic_load(&image_); }
    // TRUE while the source still has its bytes and they are content's.
    bool Holds(const Content& content) const;

private:
    void Keep(DecodedImage&& image);

    std::shared_ptr<const std::vector<uint8_t>> bytes_;  // atomic access; null once decoded
    const Decoder decode_;
    const uint64_t hash_;
    const size_t size_;
    const int width_;
    const int height_;
    // The decode happens under decodeLock_; settled_ is set once it has succeeded or failed
    // for good, after which image_ no longer changes and is read without the lock.
    std::mutex decodeLock_;
    std::atomic<bool> settled_{false};
    std::shared_ptr<const DecodedImage> image_;  // atomic access; set under decodeLock_
};

// The living source of bytes equal to content's, or null.
std::shared_ptr<PictureSource> FindSource(const Content& content);

// Shares made as the source of content's bytes and returns it, or returns the source another
// thread shared for the same bytes meanwhile (made is then dropped). May throw std::bad_alloc.
std::shared_ptr<PictureSource> ShareSource(const Content& content,
                                           std::shared_ptr<PictureSource> made);

// Pixel and index bytes of the images decoded and alive now, each counted once however many
// pictures and sources hold it.
size_t SharedDecodedBytes();

}  // namespace platform_ole
