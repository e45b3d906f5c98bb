// LZW decoding of a GIF image's codes into palette indices. Every string the table holds was
// written to the output once already: an entry is the previous code's string followed by the
// first index of the next, and the next string is written right after the previous one, so the
// entry is simply a span of the output. A code's string is therefore copied from where it was
// written before, eight bytes at a time, instead of being followed back through its prefixes
// index by index as giflib does.
#include <cstring>

#include "ole/gif_codes.h"

namespace platform_ole {
namespace gif {
namespace {

using Span = StringTable::Span;

constexpr size_t kChunk = sizeof(uint64_t);
static_assert(kIndicesSlack >= kChunk - 1, "a copy may write up to a chunk less one past its end");

// Copies length bytes from out + from to out + to, where from + length <= to: in whole
// chunks, so that up to kChunk - 1 bytes past to + length are written too (and bytes past the
// string read, which end up only there).
inline void CopyString(uint8_t* out, size_t from, size_t to, size_t length) {
    uint8_t* dst = out + to;
    const uint8_t* src = out + from;
    // Through a word: a chunk's source and destination may overlap past the string's end.
    for (size_t i = 0; i < length; i += kChunk) {
        uint64_t chunk;
        std::memcpy(&chunk, src + i, kChunk);
        std::memcpy(dst + i, &chunk, kChunk);
    }
}

}  // namespace

bool DecodeCodes(const CodeReader& codes, int codeSize, uint64_t pixels, uint8_t* out,
                 StringTable* strings) {
    if (pixels == 0) return true;
    const int clear = 1 << codeSize;
    Span* const table = strings->entries;
    int next = clear + 2;
    bool afterClear = true;  // the next code has no previous one and defines no entry
    Span previous{0, 0};     // the previous code's string
    uint64_t done = 0;
    auto restart = [&] {
        next = clear + 2;
        afterClear = true;
    };
    auto step = [&](int code) {
        const uint64_t wanted = pixels - done;
        Span string{static_cast<uint32_t>(done), 1};
        if (code < clear) {
            // A literal past 255 is past every colour table (and an index holds a byte).
            if (code > UINT8_MAX) return Step::kRefused;
            out[done] = static_cast<uint8_t>(code);
        } else if (code < next && !afterClear) {
            string.length = table[code].length;
            CopyString(out, table[code].start, done, std::min<uint64_t>(string.length, wanted));
        } else if (code == next && !afterClear && next < kTableEntries) {
            // The entry this very code defines: the previous string and its own first index.
            string.length = previous.length + 1;
            CopyString(out, previous.start, done, std::min<uint64_t>(previous.length, wanted));
            if (previous.length < wanted) out[done + previous.length] = out[previous.start];
        } else {
            return Step::kRefused;  // no entry yet: giflib would make up indices
        }
        if (!afterClear && next < kTableEntries)
            table[next++] = {previous.start, previous.length + 1};
        afterClear = false;
        previous = string;
        done += string.length;
        return done < pixels ? Step::kGoOn : Step::kDone;
    };
    return WalkCodes(codes, codeSize, restart, step);
}

}  // namespace gif
}  // namespace platform_ole
