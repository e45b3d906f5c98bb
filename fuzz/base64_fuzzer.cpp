// The avatar's base64 decoder: arbitrary text decoded in place and as a CString, and the
// bytes of the input, encoded here, decoded back to themselves.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "Base64.h"

namespace {

std::string Encode(const uint8_t* bytes, size_t size) {
    static constexpr char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (size_t i = 0; i < size; i += 3) {
        const uint32_t group = (uint32_t(bytes[i]) << 16) |
                               (i + 1 < size ? uint32_t(bytes[i + 1]) << 8 : 0) |
                               (i + 2 < size ? uint32_t(bytes[i + 2]) : 0);
        out += kAlphabet[(group >> 18) & 63];
        out += kAlphabet[(group >> 12) & 63];
        out += i + 1 < size ? kAlphabet[(group >> 6) & 63] : '=';
        out += i + 2 < size ? kAlphabet[group & 63] : '=';
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    std::vector<char> text(bytes, bytes + size);
    text.push_back('\0');
    const size_t length = std::strlen(text.data());
    const int decoded = DecodeBase64InPlace(text.data());
    if (decoded < 0 || static_cast<size_t>(decoded) > length ||
        text[static_cast<size_t>(decoded)] != '\0') {
        std::abort();
    }
    std::vector<char> again(bytes, bytes + size);
    again.push_back('\0');
    DecodeBase64String(CString(again.data()));

    std::string encoded = Encode(bytes, size);
    if (DecodeBase64InPlace(encoded.data()) != static_cast<int>(size) ||
        std::memcmp(encoded.data(), bytes, size) != 0) {
        std::abort();
    }
    return 0;
}
