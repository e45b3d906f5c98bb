// Decoded pictures shared by content. Private to the OLE family.
//
// Loading the same bytes again (the same file in several controls, the same frame cut from the
// same animation) hands out the decoded image that is already in memory: read-only, held by
// every picture object made from it, freed with the last. The key is the SHA-256 of the bytes
// and their length, so different bytes never share. The cache keeps no image alive by itself:
// what it holds beyond the pictures' own images is one small entry per living image (plus the
// dead ones not yet swept), so its memory is bounded by what the pictures hold.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "ole/decoded_image.h"

namespace platform_ole {

struct ContentKey {
    std::array<uint8_t, 32> digest;
    size_t size;
    bool operator==(const ContentKey& other) const {
        return size == other.size && digest == other.digest;
    }
};

ContentKey KeyOfContent(const uint8_t* data, size_t size);

// The living image made from bytes of this key, or null.
std::shared_ptr<const DecodedImage> FindDecoded(const ContentKey& key);

// Shares image under key and returns it, or returns the image another thread shared under the
// same key meanwhile (image is then dropped). May throw std::bad_alloc.
std::shared_ptr<const DecodedImage> ShareDecoded(const ContentKey& key, DecodedImage&& image);

// Pixel and index bytes of the images alive now, each counted once however many pictures
// hold it.
size_t SharedDecodedBytes();

}  // namespace platform_ole
