#include "PictureCheck.h"

#include <cstdint>

namespace nimbrel {
namespace {

constexpr std::string_view kGif87 = "GIF87a";
constexpr std::string_view kGif89 = "GIF89a";
constexpr char kGifTrailer = 0x3B;
constexpr std::string_view kPngSignature("\x89PNG\r\n\x1a\n", 8);
// The IEND chunk every PNG ends with: no data, then its CRC.
constexpr std::string_view kPngEnd("\0\0\0\0IEND\xae\x42\x60\x82", 12);
constexpr std::string_view kJpegStart("\xff\xd8\xff", 3);
constexpr std::string_view kJpegEnd("\xff\xd9", 2);
constexpr std::string_view kBmpSignature = "BM";
constexpr size_t kBmpSizeOffset = 2;  // BITMAPFILEHEADER.bfSize, little-endian

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

bool EndsWith(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

uint32_t LittleEndian32(std::string_view bytes, size_t offset) {
    uint32_t value = 0;
    for (size_t i = 0; i < 4; ++i)
        value |= static_cast<uint32_t>(static_cast<unsigned char>(bytes[offset + i])) << (8 * i);
    return value;
}

}  // namespace

void BodyShape::Add(std::string_view data) {
    if (m_head.size() < kHeadBytes) m_head.append(data.substr(0, kHeadBytes - m_head.size()));
    if (data.size() >= kTailBytes) {
        m_tail.assign(data.substr(data.size() - kTailBytes));
    } else {
        m_tail.append(data);
        if (m_tail.size() > kTailBytes) m_tail.erase(0, m_tail.size() - kTailBytes);
    }
    m_length += data.size();
}

std::string BodyShape::WhyNotAPicture(bool framed) const {
    const char* kind = nullptr;
    bool whole = true;
    if (StartsWith(m_head, kGif87) || StartsWith(m_head, kGif89)) {
        kind = "GIF";
        whole = !m_tail.empty() && m_tail.back() == kGifTrailer;
    } else if (StartsWith(m_head, kPngSignature)) {
        kind = "PNG";
        whole = EndsWith(m_tail, kPngEnd);
    } else if (StartsWith(m_head, kJpegStart)) {
        kind = "JPEG";
        whole = EndsWith(m_tail, kJpegEnd);
    } else if (StartsWith(m_head, kBmpSignature) && m_head.size() >= kBmpSizeOffset + 4) {
        kind = "BMP";
        whole = LittleEndian32(m_head, kBmpSizeOffset) == m_length;
    } else {
        return "the body is no picture (not GIF, PNG, JPEG or BMP)";
    }
    if (!framed && !whole)
        return std::string("the body, ended only by the connection's close, is not a whole ") +
               kind + " picture";
    return "";
}

}  // namespace nimbrel
