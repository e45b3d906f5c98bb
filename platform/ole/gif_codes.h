// Reading a GIF as giflib reads it, up to its first image: the blocks before the image, the
// image's descriptor and colour table, and its LZW codes, with the code width growing exactly as
// giflib's does. Shared by the check that runs when a picture loads and by the decoder that runs
// when it is first drawn, so that both read the same bytes the same way. Private to the OLE family.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace platform_ole {
namespace gif {

constexpr int kNoTransparency = -1;
constexpr int kTableEntries = 4096;  // codes are at most 12 bits
constexpr int kMaxCodeBits = 12;
// The largest LZW minimum code size: its first codes are 12 bits wide. giflib stops at 8, but
// other decoders take up to this, and an image of 256 colours or fewer may use it: literals past
// the colour table are simply never written.
constexpr int kMaxCodeSize = 11;
constexpr int kGiflibMaxCodeSize = 8;

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
inline bool SkipSubBlocks(ByteReader& in) {
    for (;;) {
        uint8_t size = 0;
        if (!in.Byte(&size)) return false;
        if (size == 0) return true;
        if (!in.Skip(size)) return false;
    }
}

// The image's data, its sub-blocks joined, as giflib reads it: every sub-block whole, up to the
// empty one, which must come before the data ends. A code that needs bits past the joined data
// would make giflib meet that empty sub-block, which it calls a defect. The joined bytes go to
// a buffer of the thread's that is kept for the next image unless it has grown large.
class CodeReader {
public:
    // Padding past the data, so that the bits of the data's end are read with 64-bit loads
    // (which may reach up to two words past it).
    static constexpr size_t kPadding = 2 * sizeof(uint64_t);
    static constexpr size_t kKeptCapacity = 256 * 1024;

    // Joins into the given buffer, or into the thread's.
    explicit CodeReader(std::vector<uint8_t>& buffer) : joined_(buffer) { joined_.clear(); }
    CodeReader() : CodeReader(Buffer()) {}
    CodeReader(const CodeReader&) = delete;
    CodeReader& operator=(const CodeReader&) = delete;
    ~CodeReader() {
        if (joined_.capacity() > kKeptCapacity) std::vector<uint8_t>().swap(joined_);
    }

    bool Join(ByteReader& in) {
        for (;;) {
            uint8_t size = 0;
            if (!in.Byte(&size)) return false;
            if (size == 0) break;
            const uint8_t* block = in.Here();
            if (!in.Skip(size)) return false;
            joined_.insert(joined_.end(), block, block + size);
        }
        bitsAvailable_ = joined_.size() * 8;
        joined_.resize(joined_.size() + kPadding);
        return true;
    }

    const uint8_t* Data() const { return joined_.data(); }
    size_t BitsAvailable() const { return bitsAvailable_; }

private:
    static std::vector<uint8_t>& Buffer() {
        thread_local std::vector<uint8_t> buffer;
        return buffer;
    }

    std::vector<uint8_t>& joined_;
    size_t bitsAvailable_ = 0;
};

// What a step of the walk below decides.
enum class Step { kGoOn, kDone, kRefused };

// The codes as giflib reads them: the width starts one bit above the minimum code size and
// grows by one when the codes read since the last clear pass its range, up to 12 bits; the
// code that passes the range is still read at the old width. Codes of one width are read in a
// run, without testing the width or the data's end per code, through a 64-bit buffer.
class CodeRuns {
public:
    // The buffer holds at least this many bits after Refill: Group<kBits> codes fit in it.
    static constexpr int kRefilledBits = 56;
    template <int kBits>
    static constexpr size_t Group() {
        return static_cast<size_t>(kRefilledBits / kBits);
    }

    CodeRuns(const CodeReader& codes, int codeSize)
        : start_(codes.Data()),
          bits_{codes.Data(), 0, 0},
          available_(codes.BitsAvailable()),
          codeSize_(codeSize) {
        Restart();
    }

    // After a clear code: the narrowest width again.
    void Restart() {
        runningCode_ = (1 << codeSize_) + 2;
        width_ = codeSize_ + 1;
    }
    int Width() const { return width_; }
    // The codes to read at the current width; *dataEnds when the data ends among them, so that
    // the code after them needs bits past it.
    size_t Length(bool* dataEnds) const {
        size_t run = width_ < kMaxCodeBits
                         ? static_cast<size_t>(std::max(1, (1 << width_) - runningCode_ + 1))
                         : SIZE_MAX;
        const size_t fit = (available_ - BitsRead()) / static_cast<size_t>(width_);
        *dataEnds = fit < run;
        return *dataEnds ? fit : run;
    }
    // The next code, at the current width; only within the run's length.
    int Read() {
        if (bits_.count < width_) bits_.Refill();
        const int code = static_cast<int>(bits_.buffer & ((1u << width_) - 1));
        bits_.buffer >>= width_;
        bits_.count -= width_;
        return code;
    }

    // The bit buffer, which a run may take into its own variables and give back.
    struct Bits {
        const uint8_t* next;  // the first byte not yet in buffer
        uint64_t buffer;      // count bits, the next code's in the lowest
        int count;

        // Fills the buffer to at least kRefilledBits bits, so that the next Group<kBits> codes
        // of the run can be read by Unchecked, without a test each.
        void Refill() {
            uint64_t word;
            std::memcpy(&word, next, sizeof word);
            buffer |= word << count;
            next += (63 - count) >> 3;
            count |= kRefilledBits;
        }
        // The first bit not yet read: bit *shift of the byte at *at.
        void Position(const uint8_t** at, int* shift) const {
            const int bytes = (count + 7) >> 3;
            *at = next - bytes;
            *shift = bytes * 8 - count;
        }
        // Reads on from bit shift of the byte at at.
        void MoveTo(const uint8_t* at, int shift) {
            next = at + 1;
            buffer = static_cast<uint64_t>(at[0] >> shift);
            count = 8 - shift;
        }
        template <int kBits>
        int Unchecked() {
            const int code = static_cast<int>(buffer & ((1u << kBits) - 1));
            buffer >>= kBits;
            count -= kBits;
            return code;
        }
        template <int kBits>
        int Read() {
            if (count < kBits) Refill();
            return Unchecked<kBits>();
        }
    };
    Bits TakeBits() const { return bits_; }
    void GiveBits(const Bits& bits) { bits_ = bits; }
    // After a run: the narrowest width again when a clear code cut it short, else the next
    // width. FALSE when the data ended in the run: the next code needs bits past it.
    bool EndRun(size_t run, bool cleared, bool dataEnds) {
        if (cleared) {
            Restart();
            return true;
        }
        if (dataEnds) return false;
        runningCode_ += static_cast<int>(run);
        ++width_;
        return true;
    }

private:
    // Bits read as codes: those of the bytes taken into the buffer less those still in it.
    size_t BitsRead() const {
        return static_cast<size_t>(bits_.next - start_) * 8 - static_cast<size_t>(bits_.count);
    }

    const uint8_t* const start_;
    Bits bits_;
    const size_t available_;
    const int codeSize_;
    int runningCode_ = 0;
    int width_ = 0;
};

// Hands each code that is neither the clear nor the end code to step; restart is called at
// every clear code. The end code refuses: it comes before the last pixel whenever it is read.
template <typename Restart, typename StepFn>
bool WalkCodes(const CodeReader& codes, int codeSize, Restart restart, StepFn step) {
    const int clear = 1 << codeSize;
    CodeRuns runs(codes, codeSize);
    for (;;) {
        bool dataEnds = false;
        const size_t run = runs.Length(&dataEnds);
        bool cleared = false;
        for (size_t i = 0; i < run && !cleared; ++i) {
            const int code = runs.Read();
            // Clear and end codes are rare: one predictable test for both.
            if (static_cast<unsigned>(code - clear) < 2) {
                if (code != clear) return false;
                restart();
                cleared = true;
                continue;
            }
            const Step next = step(code);
            if (next != Step::kGoOn) return next == Step::kDone;
        }
        if (!runs.EndRun(run, cleared, dataEnds)) return false;
    }
}

// What the bytes before the first image's codes say about it.
struct FirstImage {
    int width = 0;
    int height = 0;
    bool interlaced = false;
    int colours = 0;                       // entries of the colour table that applies
    const uint8_t* colourTable = nullptr;  // colours RGB triplets, in the file's bytes
    int transparent = kNoTransparency;     // the index the last graphic control names
    int codeSize = 0;                      // the LZW minimum code size
    size_t codesAt = 0;                    // where the codes' sub-blocks start
};

// Reads the blocks up to the first image's codes, refusing what giflib refuses on the way (and
// an image without any colour table, or over the size limits).
bool ReadFirstImage(const uint8_t* data, size_t size, FirstImage* image);
// Joins the first image's codes, which ReadFirstImage found.
bool JoinCodes(const uint8_t* data, size_t size, const FirstImage& image, CodeReader* codes);

// Room that DecodeCodes may write past the last pixel.
constexpr size_t kIndicesSlack = 8;
// The table DecodeCodes works in: each entry's string as a span of the output. 32 KiB, so kept
// by the caller rather than on a thread's stack (every playing animation has a thread).
struct StringTable {
    struct Span {
        uint32_t start;
        uint32_t length;
    };
    Span entries[kTableEntries];
};
// Decodes codes into pixels indices at out, which has room for pixels + kIndicesSlack bytes.
// Refuses what the check refuses: the end code before the last pixel, a code that names no
// entry yet, codes that end before the last pixel. The indices are not checked against the
// colour table.
bool DecodeCodes(const CodeReader& codes, int codeSize, uint64_t pixels, uint8_t* out,
                 StringTable* table);

}  // namespace gif
}  // namespace platform_ole
