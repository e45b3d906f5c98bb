// Inputs built by hand for the readers under test, for the tests and the fuzzers' seed corpora:
// GIF's LZW code stream, BMP files and UTF-16LE text. Needs nothing beyond the C++ library.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace portrix_test {

using Bytes = std::vector<uint8_t>;

struct Rgb {
    uint8_t r, g, b;
};

// GIF's LZW: codes grow from minCodeSize + 1 bits to 12, then a clear code starts over. No
// sub-block framing. The string table is flat, (prefix code, next index) -> code, so that even
// the biggest pictures of the tests are quick to make.
inline Bytes LzwEncode(const Bytes& indices, int minCodeSize) {
    constexpr int kMaxCodes = 4096;
    const int clear = 1 << minCodeSize, end = clear + 1;
    std::vector<int16_t> table(kMaxCodes * 256, -1);
    Bytes out;
    uint32_t pending = 0;
    int bits = 0, width = minCodeSize + 1, next = clear + 2;
    auto put = [&](int code) {
        pending |= static_cast<uint32_t>(code) << bits;
        for (bits += width; bits >= 8; bits -= 8, pending >>= 8) out.push_back(uint8_t(pending));
    };
    put(clear);
    int prefix = -1;
    for (uint8_t k : indices) {
        if (prefix < 0) {
            prefix = k;
            continue;
        }
        int16_t& code = table[static_cast<size_t>(prefix) * 256 + k];
        if (code >= 0) {
            prefix = code;
            continue;
        }
        put(prefix);
        if (next < kMaxCodes) {
            code = static_cast<int16_t>(next++);
            if (next > (1 << width) && width < 12) ++width;  // the decoder widens one code later
        } else {
            put(clear);
            std::fill(table.begin(), table.end(), int16_t{-1});
            width = minCodeSize + 1;
            next = clear + 2;
        }
        prefix = k;
    }
    if (prefix >= 0) put(prefix);
    put(end);
    if (bits > 0) out.push_back(uint8_t(pending));
    return out;
}

inline void PutLe(Bytes* out, size_t at, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) (*out)[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

// File header (its size field left 0, as readers ignore it), an info header of infoSize (>= 40)
// bytes, the palette, then the rows as given.
inline Bytes BuildBmp(int w, int h, int bitCount, const std::vector<Rgb>& palette,
                      const Bytes& rows, uint32_t infoSize = 40, uint32_t compression = 0) {
    const size_t offset = 14 + infoSize + palette.size() * 4;
    Bytes out(offset, 0);
    out[0] = 'B';
    out[1] = 'M';
    PutLe(&out, 10, static_cast<uint32_t>(offset), 4);
    PutLe(&out, 14, infoSize, 4);
    PutLe(&out, 18, static_cast<uint32_t>(w), 4);
    PutLe(&out, 22, static_cast<uint32_t>(h), 4);
    PutLe(&out, 26, 1, 2);
    PutLe(&out, 28, static_cast<uint32_t>(bitCount), 2);
    PutLe(&out, 30, compression, 4);
    PutLe(&out, 46, static_cast<uint32_t>(palette.size()), 4);
    for (size_t i = 0; i < palette.size(); ++i) {
        const Rgb c = palette[i];
        std::memcpy(&out[14 + infoSize + i * 4], Bytes{c.b, c.g, c.r}.data(), 3);
    }
    out.insert(out.end(), rows.begin(), rows.end());
    return out;
}

// UTF-16LE with its byte order mark, as the registry editor exports by default.
inline std::string Utf16Le(const std::string& ascii) {
    std::string out = "\xff\xfe";
    for (char c : ascii) {
        out += c;
        out += '\0';
    }
    return out;
}

}  // namespace portrix_test
