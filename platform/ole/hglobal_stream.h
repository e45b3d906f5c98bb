// Reading a stream over global memory in place. Private to the OLE family.
#pragma once

#include <ole2.h>

#include <cstddef>
#include <cstdint>
#include <functional>

namespace platform_ole {

// For a stream made by CreateStreamOnHGlobal: calls use with the stream's bytes from its
// position on, at most limit of them (0: all to the end), while the block is locked, and then
// moves the stream past them as reading them would. FALSE, without calling use, for any other
// stream, and when the block cannot be locked (reading then reports the fault).
bool UseStreamBytesInPlace(IStream* stream, ULONGLONG limit,
                           const std::function<void(const uint8_t*, size_t)>& use);

}  // namespace platform_ole
