#include "Base64.h"

#include <cstring>
#include <memory>
#include <new>

namespace {

constexpr int kPadMark = 64;
constexpr int kNotInAlphabet = -1;
constexpr int kGroupLength = 4;

int SextetValue(char ch) {
    if (ch >= 'A' && ch <= 'Z') return ch - 'A';
    if (ch >= 'a' && ch <= 'z') return ch - 'a' + 26;
    if (ch >= '0' && ch <= '9') return ch - '0' + 52;
    if (ch == '+') return 62;
    if (ch == '/') return 63;
    if (ch == '=') return kPadMark;
    return kNotInAlphabet;
}

// Writes the bytes of one complete group at `out` and returns how many were written.
int DecodeGroup(int w, int x, int y, int z, char* out) {
    // A pad mark where data must be cannot be decoded meaningfully: the group is skipped.
    if (w == kPadMark || x == kPadMark) return 0;
    int count = 3;
    if (y == kPadMark) {
        y = 0;
        z = 0;
        count = 1;
    } else if (z == kPadMark) {
        z = 0;
        count = 2;
    }
    const unsigned char bytes[3] = {
        static_cast<unsigned char>((w * 4 + x / 16) & 0xFF),
        static_cast<unsigned char>(((x % 16) * 16 + y / 4) & 0xFF),
        static_cast<unsigned char>(((y % 4) * 64 + z) & 0xFF),
    };
    std::memcpy(out, bytes, static_cast<size_t>(count));
    return count;
}

}  // namespace

int DecodeBase64InPlace(char* buffer) {
    if (buffer == nullptr) return 0;
    // The write position trails the read position by at least one character per group,
    // so decoding over the input never overwrites what is still to be read.
    char* out = buffer;
    int group[kGroupLength];
    int filled = 0;
    for (const char* in = buffer; *in != '\0'; ++in) {
        const int value = SextetValue(*in);
        if (value == kNotInAlphabet) break;
        group[filled++] = value;
        if (filled < kGroupLength) continue;
        filled = 0;
        out += DecodeGroup(group[0], group[1], group[2], group[3], out);
    }
    *out = '\0';
    return static_cast<int>(out - buffer);
}

CString DecodeBase64String(CString encoded) {
    const LPCTSTR text = encoded;
    const size_t length = std::strlen(text);
    std::unique_ptr<char[]> buffer(new (std::nothrow) char[length + 1]);
    if (!buffer) return CString();
    std::memcpy(buffer.get(), text, length + 1);
    DecodeBase64InPlace(buffer.get());
    return CString(buffer.get());
}
