// SHA-256 (FIPS 180-4) of a byte range. Private to the OLE family.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace platform_ole {

std::array<uint8_t, 32> Sha256(const uint8_t* data, size_t size);

}  // namespace platform_ole
