// Checking a GIF without decoding it: the blocks the decoder reads up to its first image, and
// that image's LZW codes, followed as giflib reads them but without producing any pixel. Per
// table entry only its length, its first index, the entry it extends and whether it holds an
// index that the colour table does not have are kept, so each code costs a few operations
// whatever the length of its string.
#include <cstring>

#include "ole/decoded_image.h"

namespace platform_ole {
namespace {

constexpr int kNoTransparency = -1;
constexpr int kNoEntry = -1;
constexpr int kTableEntries = 4096;          // codes are at most 12 bits
constexpr int kMaxCodeBits = 12;
constexpr int kMaxRunningCode = 4097;        // giflib stops counting codes there
constexpr int kMaxCodeSize = 8;              // the largest LZW minimum code size giflib takes
constexpr uint8_t kImageIntroducer = 0x2C;
constexpr uint8_t kExtensionIntroducer = 0x21;
constexpr uint8_t kGraphicControlLabel = 0xF9;
constexpr uint8_t kColourTableFlag = 0x80;
constexpr uint8_t kTableSizeBits = 0x07;
constexpr size_t kHeaderBytes = 6;

class ByteReader {
public:
    ByteReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool Byte(uint8_t* out) {
        if (pos_ >= size_) return false;
        *out = data_[pos_++];
        return true;
    }
    bool Word(int* out) {
        if (size_ - pos_ < 2) return false;
        *out = data_[pos_] | (data_[pos_ + 1] << 8);
        pos_ += 2;
        return true;
    }
    bool Skip(size_t count) {
        if (size_ - pos_ < count) return false;
        pos_ += count;
        return true;
    }
    const uint8_t* Here() const { return data_ + pos_; }

private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

// Sub-blocks after the first, up to the empty one; giflib reads each whole.
bool SkipSubBlocks(ByteReader& in) {
    for (;;) {
        uint8_t size = 0;
        if (!in.Byte(&size)) return false;
        if (size == 0) return true;
        if (!in.Skip(size)) return false;
    }
}

// The image's codes, read from its sub-blocks, least significant bit first.
class CodeReader {
public:
    explicit CodeReader(ByteReader& in) : in_(in) {}
    bool Next(int bits, int* code) {
        while (held_ < bits) {
            if (left_ == 0) {
                // An empty sub-block before the last code: giflib calls the image defective.
                uint8_t size = 0;
                if (!in_.Byte(&size) || size == 0) return false;
                block_ = in_.Here();
                if (!in_.Skip(size)) return false;
                left_ = size;
            }
            buffer_ |= static_cast<uint32_t>(*block_++) << held_;
            held_ += 8;
            --left_;
        }
        *code = static_cast<int>(buffer_ & ((1u << bits) - 1));
        buffer_ >>= bits;
        held_ -= bits;
        return true;
    }
    // After the last pixel giflib reads the rest of the data up to the empty sub-block.
    bool SkipRest() { return SkipSubBlocks(in_); }

private:
    ByteReader& in_;
    const uint8_t* block_ = nullptr;
    size_t left_ = 0;
    uint32_t buffer_ = 0;
    int held_ = 0;
};

// TRUE when the codes yield pixels indices, each in the colour table (of colours entries) or
// the transparent index. The code width and the table grow exactly as in giflib. One thing
// giflib lets through is refused here: a code that names no entry yet (other than the entry
// the code itself defines), which giflib turns into arbitrary indices.
bool CheckCodes(ByteReader& in, int codeSize, uint64_t pixels, int colours, int transparent) {
    if (codeSize > kMaxCodeSize) return false;
    const int clear = 1 << codeSize;
    const int end = clear + 1;
    uint16_t length[kTableEntries];
    int16_t prefix[kTableEntries];
    uint8_t first[kTableEntries];
    bool outside[kTableEntries];
    for (int index = 0; index < clear; ++index) {
        length[index] = 1;
        prefix[index] = kNoEntry;
        first[index] = static_cast<uint8_t>(index);
        outside[index] = index >= colours && index != transparent;
    }

    CodeReader codes(in);
    int runningCode = end + 1;
    int runningBits = codeSize + 1;
    int maxCode1 = 1 << runningBits;
    int next = clear + 2;
    int previous = kNoEntry;
    uint64_t done = 0;
    while (done < pixels) {
        int code = 0;
        if (!codes.Next(runningBits, &code)) return false;
        if (runningCode < kMaxRunningCode && ++runningCode > maxCode1 &&
            runningBits < kMaxCodeBits) {
            maxCode1 <<= 1;
            ++runningBits;
        }
        if (code == clear) {
            runningCode = end + 1;
            runningBits = codeSize + 1;
            maxCode1 = 1 << runningBits;
            next = clear + 2;
            previous = kNoEntry;
            continue;
        }
        if (code == end) return false;  // pixels are missing

        int firstIndex = 0;
        if (code < clear || code < next) {
            firstIndex = first[code];
        } else if (code == next && previous != kNoEntry && next < kTableEntries) {
            firstIndex = first[previous];  // the entry this code defines: previous + its first
        } else {
            return false;
        }
        if (previous != kNoEntry && next < kTableEntries) {
            length[next] = static_cast<uint16_t>(length[previous] + 1);
            prefix[next] = static_cast<int16_t>(previous);
            first[next] = first[previous];
            outside[next] = outside[previous] || (firstIndex >= colours && firstIndex != transparent);
            ++next;
        }

        const uint64_t wanted = pixels - done;
        int read = code;
        // Of the last string only the indices up to the last pixel are read.
        while (length[read] > wanted) read = prefix[read];
        if (outside[read]) return false;
        done += length[read];
        previous = code;
    }
    return codes.SkipRest();
}

}  // namespace

bool CheckGif(const uint8_t* data, size_t size, GifFacts* facts) {
    ByteReader in(data, size);
    if (!in.Skip(kHeaderBytes) || std::memcmp(data, "GIF", 3) != 0) return false;
    int screenWidth = 0, screenHeight = 0;
    uint8_t packed = 0, background = 0, aspect = 0;
    if (!in.Word(&screenWidth) || !in.Word(&screenHeight) || !in.Byte(&packed) ||
        !in.Byte(&background) || !in.Byte(&aspect))
        return false;
    int globalColours = 0;
    if (packed & kColourTableFlag) {
        globalColours = 1 << ((packed & kTableSizeBits) + 1);
        if (!in.Skip(3 * static_cast<size_t>(globalColours))) return false;
    }

    int transparent = kNoTransparency;
    for (;;) {
        uint8_t record = 0;
        if (!in.Byte(&record)) return false;
        if (record == kExtensionIntroducer) {
            uint8_t label = 0, blockSize = 0;
            if (!in.Byte(&label) || !in.Byte(&blockSize)) return false;
            const uint8_t* block = in.Here();
            if (!in.Skip(blockSize)) return false;
            // The last graphic control extension before the image is the one that applies.
            if (label == kGraphicControlLabel) {
                transparent = blockSize >= 4 && (block[0] & 0x01) ? block[3] : kNoTransparency;
            }
            if (blockSize != 0 && !SkipSubBlocks(in)) return false;
            continue;
        }
        if (record != kImageIntroducer) return false;  // the trailer or an unknown block

        int left = 0, top = 0, width = 0, height = 0;
        uint8_t imagePacked = 0;
        if (!in.Word(&left) || !in.Word(&top) || !in.Word(&width) || !in.Word(&height) ||
            !in.Byte(&imagePacked))
            return false;
        int colours = globalColours;
        if (imagePacked & kColourTableFlag) {
            colours = 1 << ((imagePacked & kTableSizeBits) + 1);
            if (!in.Skip(3 * static_cast<size_t>(colours))) return false;
        }
        uint8_t codeSize = 0;
        if (!in.Byte(&codeSize)) return false;
        if (!PictureSizeAllowed(static_cast<uint64_t>(width), static_cast<uint64_t>(height)))
            return false;
        if (colours <= 0) return false;  // no colour table at all
        if (!CheckCodes(in, codeSize, static_cast<uint64_t>(width) * static_cast<uint64_t>(height),
                        colours, transparent))
            return false;
        facts->width = width;
        facts->height = height;
        return true;
    }
}

}  // namespace platform_ole
