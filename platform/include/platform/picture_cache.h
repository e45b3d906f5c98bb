// The decoded pixels behind OleLoadPicture's pictures are shared between pictures loaded from
// the same bytes: each picture object is its own, the pixels are held once, read-only, and
// freed with the last picture that holds them.
#pragma once
#include <cstddef>

namespace platform {

// Bytes of decoded pixels that pictures hold now, each shared image counted once.
size_t DecodedPictureBytes();

}  // namespace platform
