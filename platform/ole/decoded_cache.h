// Decoded pictures shared by content. Private to the OLE family.
//
// Loading the same bytes again (the same file in several controls, the same frame cut from the
// same animation) hands out the decoded image that is already in memory: read-only, held by
// every picture object made from it, freed with the last. An image is found by a fast hash of
// the bytes and their length, and is handed out only when the bytes themselves are equal, so
// different bytes never share. The cache keeps no image alive by itself: what it holds beyond
// the pictures' own images is one small entry per living image (plus the dead ones not yet
// swept), so its memory is bounded by what the pictures hold.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "ole/decoded_image.h"

namespace platform_ole {

// The bytes of one picture, hashed once.
struct Content {
    const uint8_t* data;
    size_t size;
    uint64_t hash;
};

Content ContentOf(const uint8_t* data, size_t size);

// The living image made from bytes equal to content's, or null.
std::shared_ptr<const DecodedImage> FindDecoded(const Content& content);

// Shares image as made from content's bytes and returns it, or returns the image another thread
// shared for the same bytes meanwhile (image is then dropped). May throw std::bad_alloc.
std::shared_ptr<const DecodedImage> ShareDecoded(const Content& content, DecodedImage&& image);

// Pixel and index bytes of the images alive now, each counted once however many pictures
// hold it.
size_t SharedDecodedBytes();

}  // namespace platform_ole
