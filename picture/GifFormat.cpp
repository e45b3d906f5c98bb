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
    ULONGLONG pos = offset;
    ULONGLONG sum = 0;
    for (;;) {
        if (pos >= size) return 0;
        const BYTE s = data[pos];
        if (s == 0) break;
        sum += s + 1u;
        pos += s + 1u;
    }
    if (sum + 1 > static_cast<ULONGLONG>(INT_MAX)) return 0;
    return static_cast<int>(sum + 1);
}

}  // namespace gif
