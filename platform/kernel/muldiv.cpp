// MulDiv and OutputDebugString.
#include <climits>
#include <cstdio>

#include "windows.h"

// number * numerator / denominator with a 64-bit intermediate, rounded half away from zero.
// -1 reports a zero denominator or a result outside int, as on the original platform (which
// makes -1 itself ambiguous there too).
int MulDiv(int number, int numerator, int denominator) {
    if (denominator == 0) return -1;
    const int64_t product = int64_t{number} * numerator;
    const bool negative = (product < 0) != (denominator < 0);
    const uint64_t p =
        product < 0 ? 0 - static_cast<uint64_t>(product) : static_cast<uint64_t>(product);
    const uint64_t d = denominator < 0 ? 0 - static_cast<uint64_t>(int64_t{denominator})
                                       : static_cast<uint64_t>(denominator);
    const uint64_t q = (p + d / 2) / d;
    if (negative ? q > uint64_t{INT_MAX} + 1 : q > uint64_t{INT_MAX}) return -1;
    return negative ? static_cast<int>(0 - static_cast<int64_t>(q)) : static_cast<int>(q);
}

void OutputDebugStringA(LPCSTR text) {
    if (text) std::fputs(text, stderr);
}
