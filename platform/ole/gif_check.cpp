// Checking a GIF without decoding it: the blocks the decoder reads up to its first image, and
// that image's LZW codes, followed as giflib reads them but without producing any pixel. Per
// table entry only the length of its string is kept, so each code costs a few operations
// whatever the length of its string; the rare image with a string that holds an index past the
// colour table is decoded instead.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "ole/decoded_image.h"
#include "ole/gif_codes.h"

namespace platform_ole {
namespace gif {
namespace {

constexpr uint8_t kImageIntroducer = 0x2C;
constexpr uint8_t kExtensionIntroducer = 0x21;
constexpr uint8_t kGraphicControlLabel = 0xF9;
constexpr uint8_t kColourTableFlag = 0x80;
constexpr uint8_t kInterlaceFlag = 0x40;
constexpr uint8_t kTableSizeBits = 0x07;
constexpr size_t kHeaderBytes = 6;

}  // namespace

bool ReadFirstImage(const uint8_t* data, size_t size, FirstImage* image) {
    ByteReader in(data, size);
    if (!in.Skip(kHeaderBytes) || std::memcmp(data, "GIF", 3) != 0) return false;
    int screenWidth = 0, screenHeight = 0;
    uint8_t packed = 0, background = 0, aspect = 0;
    if (!in.Word(&screenWidth) || !in.Word(&screenHeight) || !in.Byte(&packed) ||
        !in.Byte(&background) || !in.Byte(&aspect))
        return false;
    int globalColours = 0;
    const uint8_t* globalTable = nullptr;
    if (packed & kColourTableFlag) {
        globalColours = 1 << ((packed & kTableSizeBits) + 1);
        globalTable = in.Here();
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
        const uint8_t* table = globalTable;
        if (imagePacked & kColourTableFlag) {
            colours = 1 << ((imagePacked & kTableSizeBits) + 1);
            table = in.Here();
            if (!in.Skip(3 * static_cast<size_t>(colours))) return false;
        }
        uint8_t codeSize = 0;
        if (!in.Byte(&codeSize)) return false;
        if (!PictureSizeAllowed(static_cast<uint64_t>(width), static_cast<uint64_t>(height)))
            return false;
        if (colours <= 0) return false;  // no colour table at all
        if (codeSize > kMaxCodeSize) return false;
        *image =
            FirstImage{width,       height,   (imagePacked & kInterlaceFlag) != 0,  colours, table,
                       transparent, codeSize, static_cast<size_t>(in.Here() - data)};
        return true;
    }
}

bool JoinCodes(const uint8_t* data, size_t size, const FirstImage& image, CodeReader* codes) {
    ByteReader in(data, size);
    return in.Skip(image.codesAt) && codes->Join(in);
}

namespace {

// The state of CountCodes' table walk.
struct Count {
    uint16_t* length;
    int next;                 // the entry the next code defines
    uint32_t previousLength;  // of the previous code's string, kept at hand
    uint64_t done;            // pixels so far
    uint64_t stop;            // the run below stops once done reaches it
};

// An entry not defined yet, and the clear and end codes, have this length, above any string's
// (at most 4096). Both its bytes are kUndefinedByte, so that entries are undefined by memset.
constexpr uint8_t kUndefinedByte = 0x80;
constexpr uint16_t kUndefined = kUndefinedByte * 0x101;

// A single index that the colour table does not have has this length, and so does, grown by
// its extra indices, every string that extends it: above kUndefined, so that reading such a
// string passes the pixels still wanted like an undefined entry does, but told apart from one.
constexpr uint16_t kOutside = kUndefined + 1;

// The lengths of the entries of single indices, copied in at once.
struct LiteralLengths {
    uint16_t value[Palette::kEntries];
    constexpr LiteralLengths() : value() {
        for (uint16_t& length : value) length = 1;
    }
};
constexpr LiteralLengths kLiteralLengths;

void Undefine(uint16_t* from, uint16_t* to) {
    if (from < to) std::memset(from, kUndefinedByte, static_cast<size_t>(to - from) * sizeof *from);
}

uint64_t LoadWord(const uint8_t* p) {
    uint64_t word;
    std::memcpy(&word, p, sizeof word);
    return word;
}

// The bulk of CountCodesOf: eight codes at a time, with done tested against stop once per
// eight. Eight codes of kBits bits take kBits bytes, so each group's codes lie at the same bit
// offsets from its first byte, and are cut from two words without a chain of shifts from one
// code to the next. Stops before the group in which done would reach stop: that group's entries
// are undefined again, and CountCodesOf follows it code by code. Returns how many were read.
template <int kBits, bool kDefine>
size_t CountGroupsOf(CodeRuns& runs, size_t n, Count& count) {
    constexpr size_t kGroup = 8;
    constexpr uint64_t kMask = (1u << kBits) - 1;
    if (n < kGroup) return 0;
    const uint16_t* const length = count.length;
    uint16_t* defined = count.length + count.next;  // the entry the next code defines
    uint64_t previousLength = count.previousLength;
    uint64_t done = count.done;
    const uint64_t stop = count.stop;
    CodeRuns::Bits bits = runs.TakeBits();
    const uint8_t* at = nullptr;
    int firstShift = 0;
    bits.Position(&at, &firstShift);
    // The second word starts at the byte that holds the group's fifth code.
    const size_t secondAt = static_cast<size_t>(firstShift + 4 * kBits) >> 3;
    const uint64_t shift = static_cast<uint64_t>(firstShift);
    const uint64_t secondShift = static_cast<uint64_t>(firstShift + 4 * kBits) & 7;
    const uint8_t* const start = at;
    const uint8_t* const end = at + (n / kGroup) * kBits;
    for (; at != end; at += kBits) {
        const uint64_t first = LoadWord(at) >> shift;
        const uint64_t second = LoadWord(at + secondAt) >> secondShift;
        const uint64_t codes[kGroup] = {
            first & kMask,
            (first >> kBits) & kMask,
            (first >> (2 * kBits)) & kMask,
            (first >> (3 * kBits)) & kMask,
            second & kMask,
            (second >> kBits) & kMask,
            (second >> (2 * kBits)) & kMask,
            (second >> (3 * kBits)) & kMask,
        };
        const uint64_t before = previousLength;
        uint64_t added = 0;
#pragma GCC unroll 8
        for (size_t k = 0; k < kGroup; ++k) {
            if (kDefine) defined[k] = static_cast<uint16_t>(previousLength + 1);
            previousLength = length[codes[k]];
            added += previousLength;
        }
        if (done + added >= stop) {
            if (kDefine) Undefine(defined, defined + kGroup);
            previousLength = before;
            break;
        }
        done += added;
        if (kDefine) defined += kGroup;
    }
    const size_t read = static_cast<size_t>(at - start) / kBits * kGroup;
    bits.MoveTo(at, firstShift);
    runs.GiveBits(bits);
    if (kDefine) count.next = static_cast<int>(defined - count.length);
    count.previousLength = static_cast<uint32_t>(previousLength);
    count.done = done;
    return read;
}

// Follows up to n codes of kBits bits: each defines the next entry (while kDefine: the table
// is not full) and adds its string's length. Returns how many were read; fewer than n when
// done reached stop, with the last code in *last. After the groups of eight, codes are read in
// groups that one refill of the bit buffer covers.
template <int kBits, bool kDefine>
size_t CountCodesOf(CodeRuns& runs, size_t n, Count& count, int* last) {
    const size_t grouped = CountGroupsOf<kBits, kDefine>(runs, n, count);
    n -= grouped;
    uint16_t* const length = count.length;
    int next = count.next;
    uint32_t previousLength = count.previousLength;
    uint64_t done = count.done;
    const uint64_t stop = count.stop;
    CodeRuns::Bits bits = runs.TakeBits();
    // TRUE when done reaches stop with code.
    auto step = [&](int code) {
        // Defines the entry before the code is looked at: the code may name that very entry.
        if (kDefine) length[next++] = static_cast<uint16_t>(previousLength + 1);
        previousLength = length[code];
        done += previousLength;
        return done >= stop;
    };
    constexpr size_t kGroup = CodeRuns::Group<kBits>();
    size_t i = 0;
    int code = -1;  // the code that reached stop
    for (; n - i >= kGroup; i += kGroup) {
        bits.Refill();
        size_t k = 0;
#pragma GCC unroll 8
        for (; k < kGroup; ++k) {
            const int read = bits.template Unchecked<kBits>();
            if (step(read)) {
                code = read;
                break;
            }
        }
        if (code >= 0) {
            i += k + 1;
            break;
        }
    }
    for (; code < 0 && i < n; ++i) {
        const int read = bits.template Read<kBits>();
        if (step(read)) code = read;
    }
    if (code >= 0) *last = code;
    runs.GiveBits(bits);
    count.next = next;
    count.previousLength = previousLength;
    count.done = done;
    return grouped + i;
}

// CountCodesOf for a run of kBits codes. Only at 12 bits can the table fill up (4096
// entries), after which no code defines an entry; a full table writes the slot past it.
template <int kBits>
size_t CountRun(CodeRuns& runs, size_t n, Count& count, int* last) {
    if (kBits < kMaxCodeBits) return CountCodesOf<kBits, true>(runs, n, count, last);
    const size_t defining = static_cast<size_t>(std::max(0, kTableEntries - count.next));
    size_t read = 0;
    if (defining > 0) {
        read = CountCodesOf<kBits, true>(runs, std::min(n, defining), count, last);
        if (count.done >= count.stop || read == n) return read;
    }
    return read + CountCodesOf<kBits, false>(runs, n - read, count, last);
}

size_t CountRunAt(int bits, CodeRuns& runs, size_t n, Count& count, int* last) {
    switch (bits) {
        case 1:
            return CountRun<1>(runs, n, count, last);
        case 2:
            return CountRun<2>(runs, n, count, last);
        case 3:
            return CountRun<3>(runs, n, count, last);
        case 4:
            return CountRun<4>(runs, n, count, last);
        case 5:
            return CountRun<5>(runs, n, count, last);
        case 6:
            return CountRun<6>(runs, n, count, last);
        case 7:
            return CountRun<7>(runs, n, count, last);
        case 8:
            return CountRun<8>(runs, n, count, last);
        case 9:
            return CountRun<9>(runs, n, count, last);
        case 10:
            return CountRun<10>(runs, n, count, last);
        case 11:
            return CountRun<11>(runs, n, count, last);
        default:
            return CountRun<12>(runs, n, count, last);
    }
}

// What CountCodes finds: kOutside when a string read holds an index outside the colour
// table, which only the decoded indices can judge (the indices past the last pixel are not
// read).
enum class CountVerdict { kAccepted, kRefused, kOutside };

// The codes followed as the decoder reads them (gif_lzw.cpp), with only the strings' lengths
// kept, to count the pixels, and the same refusals. This is the costly part of loading an
// animation, so each code costs one test: an entry not defined yet, like the clear and the end
// code, has a length so large that reading it passes the pixels still wanted, and only then is
// the code looked at. literals holds the lengths of the single indices: 1, or kOutside for one
// outside the colour table.
CountVerdict CountCodes(const CodeReader& codes, int codeSize, uint64_t pixels,
                        const uint16_t* literals) {
    if (pixels == 0) return CountVerdict::kAccepted;
    const int clear = 1 << codeSize;
    // One slot past the table: a full table writes there instead of testing for it. Entries
    // are given kUndefined as the width lets codes name them.
    uint16_t length[kTableEntries + 1];
    std::memcpy(length, literals, static_cast<size_t>(clear) * sizeof *length);
    length[clear] = length[clear + 1] = kUndefined;
    Count count{length, clear + 2, 0, 0, std::min<uint64_t>(pixels, kUndefined)};
    int named = clear;  // entries [0, named) hold a length or kUndefined
    // Entries from count.next on are not defined; those below it hold their lengths.
    auto nameUpTo = [&](int entries) {
        named = std::max(named, count.next);
        Undefine(length + named, length + entries);
        named = std::max(named, entries);
    };

    CodeRuns runs(codes, codeSize);
    bool afterClear = true;  // the next code has no previous one and defines no entry
    for (;;) {
        nameUpTo(1 << runs.Width());
        bool dataEnds = false;
        const size_t run = runs.Length(&dataEnds);
        size_t read = 0;
        if (afterClear && run > 0) {
            const int code = runs.Read();
            read = 1;
            if (code == clear) {
                runs.Restart();
                continue;
            }
            if (code > clear) return CountVerdict::kRefused;  // the end code, or no entry yet
            if (length[code] != 1) return CountVerdict::kOutside;
            afterClear = false;
            count.previousLength = 1;
            if (++count.done >= pixels) return CountVerdict::kAccepted;
        }
        bool cleared = false;
        while (read < run) {
            int code = 0;
            read += CountRunAt(runs.Width(), runs, run - read, count, &code);
            if (count.done < count.stop) continue;  // the run is over
            if (count.previousLength > kUndefined) return CountVerdict::kOutside;
            if (count.previousLength != kUndefined) {
                // The rest past the last pixel is not read.
                if (count.done >= pixels) return CountVerdict::kAccepted;
                // A genuine string passed stop, which is no more than kUndefined pixels on.
                count.stop = std::min<uint64_t>(pixels, count.done + kUndefined);
                continue;
            }
            if (code != clear) return CountVerdict::kRefused;  // the end code, or undefined
            // The clear code defined an entry above, undone here with all the others.
            count.done -= kUndefined;
            Undefine(length + clear + 2, length + count.next);
            count.next = clear + 2;
            count.stop = std::min<uint64_t>(pixels, count.done + kUndefined);
            afterClear = true;
            cleared = true;
            break;
        }
        if (!runs.EndRun(run, cleared, dataEnds)) return CountVerdict::kRefused;
    }
}

}  // namespace
}  // namespace gif

bool CheckGif(const uint8_t* data, size_t size, GifFacts* facts) {
    using namespace gif;
    FirstImage image;
    CodeReader codes;
    if (!ReadFirstImage(data, size, &image) || !JoinCodes(data, size, image, &codes)) return false;
    const uint64_t pixels =
        static_cast<uint64_t>(image.width) * static_cast<uint64_t>(image.height);
    // Indices at and past the clear code are codes, not indices: only those below it can be
    // outside the colour table.
    const int clear = 1 << image.codeSize;
    const uint16_t* literals = kLiteralLengths.value;
    uint16_t marked[1 << kMaxCodeSize];
    if (image.colours < clear) {
        for (int index = 0; index < clear; ++index) {
            marked[index] = index < image.colours || index == image.transparent ? 1 : kOutside;
        }
        literals = marked;
    }
    // Counting decides unless a string holds an index outside the colour table, which is rare
    // enough that the image is then decoded, and refused when such an index falls on a pixel.
    const CountVerdict counted = CountCodes(codes, image.codeSize, pixels, literals);
    if (counted == CountVerdict::kRefused) return false;
    DecodedImage decoded;
    if (counted == CountVerdict::kOutside && !DecodeGifDirect(data, size, &decoded)) return false;
    facts->width = image.width;
    facts->height = image.height;
    return true;
}

}  // namespace platform_ole
