#include "GifFormat.h"

#include <climits>
#include <cstring>

namespace gif {

bool IsGifSignature(const BYTE* data, DWORD size) {
    if (data == nullptr || size < kHeaderSize) return false;
    if (std::memcmp(data, "GIF", 3) != 0) return false;
    return std::memcmp(data + 3, "87a", 3) == 0 || std::memcmp(data + 3, "89a", 3) == 0;
}

int ScreenPackedField(BYTE packed, int selector) {
    switch (selector) {
        case 0:
            return (packed >> 7) & 1;
        case 1:
            return ((packed >> 4) & 7) + 1;
        case 2:
            return (packed >> 3) & 1;
        case 3:
            return packed & 7;
        default:
            return packed;
    }
}

int ImagePackedField(BYTE packed, int selector) {
    switch (selector) {
        case 0:
            return (packed >> 7) & 1;
        case 1:
            return (packed >> 6) & 1;
        case 2:
            return (packed >> 5) & 1;
        case 3:
            return packed & 7;
        default:
            return packed;
    }
}

int ChainLength(const BYTE* data, DWORD size, DWORD offset) {
    // Most sub-blocks are full: a length byte of 255 and its data. Stepping over a run of them
    // by a constant, not by the length just read, lets the processor fetch the next length
    // bytes before the current one has arrived.
    constexpr ULONGLONG kFullSubBlock = 256;
    ULONGLONG pos = offset;
    for (;;) {
        while (pos < size && data[pos] == 0xFF) pos += kFullSubBlock;
        if (pos >= size) return 0;
        const BYTE s = data[pos];
        if (s == 0) break;
        pos += s + 1u;
    }
    const ULONGLONG sum = pos - offset;
    if (sum + 1 > static_cast<ULONGLONG>(INT_MAX)) return 0;
    return static_cast<int>(sum + 1);
}

}  // namespace gif
