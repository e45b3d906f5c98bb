// GIF decoding: the first image of the file, at its own size (not the logical screen's), so
// that a frame cut out of an animation decodes to exactly its own rectangle. The picture keeps
// the palette indices and a palette.
//
// The bytes have passed CheckGif when they are decoded, so their codes are known to be sound:
// they are decoded by the project's own LZW decoder (gif_lzw.cpp), which reads them through the
// same code as the check and copies strings whole. giflib's reading stays beside it as the
// reference that a fuzzer compares it with: the same indices, palette and transparency.
//
// The frames of one animation reach the decoder one after another as separate files with the
// same colour table, and the next picture of the same colours gets the same palette. Pictures
// are decoded when first drawn, on whichever thread draws them (every playing animation has a
// thread of its own), so the decoders' buffers and palettes are not kept per thread but in a
// small pool that any thread borrows from: what they hold stays bounded however many threads
// decode.
#include <gif_lib.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

#include "ole/decoded_image.h"
#include "ole/gif_codes.h"

namespace platform_ole {
namespace {

int ReadFromMemory(GifFileType* gif, GifByteType* buffer, int length) {
    auto* source = static_cast<MemorySource*>(gif->UserData);
    if (length <= 0) return 0;
    size_t count = std::min(static_cast<size_t>(length), source->Remaining());
    source->Take(buffer, count);
    return static_cast<int>(count);
}

constexpr int kNoTransparency = -1;

// The transparent index announced by a graphic control extension, or kNoTransparency.
int TransparentIndexOf(const GifByteType* block) {
    // block[0] is the sub-block length, then packed byte, delay (2), transparent index.
    if (block == nullptr || block[0] < 4) return kNoTransparency;
    return (block[1] & 0x01) ? block[4] : kNoTransparency;
}

// giflib open on bytes in memory, closed with the object.
class GifReader {
public:
    GifReader(const uint8_t* data, size_t size) : source_{data, size, 0} {
        int error = 0;
        gif_ = DGifOpen(&source_, ReadFromMemory, &error);
    }
    GifReader(const GifReader&) = delete;
    GifReader& operator=(const GifReader&) = delete;
    ~GifReader() {
        int error = 0;
        if (gif_ != nullptr) DGifCloseFile(gif_, &error);
    }
    GifFileType* get() const { return gif_; }

private:
    MemorySource source_;
    GifFileType* gif_ = nullptr;
};

// The palette of the last colour table and transparent index seen on this thread.
class PaletteCache {
public:
    // TRUE when For would hand out the palette it holds. rgb: colourCount triplets, as a GIF
    // colour table stores them.
    bool Holds(const uint8_t* rgb, int colourCount, int transparentIndex) const {
        const size_t count = static_cast<size_t>(std::min(colourCount, Palette::kEntries)) * 3;
        return palette_ != nullptr && transparentIndex == transparentIndex_ &&
               colours_.size() == count && std::memcmp(colours_.data(), rgb, count) == 0;
    }
    std::shared_ptr<const Palette> For(const uint8_t* rgb, int colourCount, int transparentIndex) {
        const size_t count = static_cast<size_t>(std::min(colourCount, Palette::kEntries)) * 3;
        if (!Holds(rgb, colourCount, transparentIndex)) {
            auto made = std::make_shared<Palette>();
            for (size_t i = 0; i < Palette::kEntries; ++i) {
                const uint8_t* c = 3 * i < count ? rgb + 3 * i : kBlack;
                made->argb[i] = MakeArgb(0xFF, c[0], c[1], c[2]);
            }
            if (transparentIndex != kNoTransparency) made->argb[transparentIndex] = 0;
            colours_.assign(rgb, rgb + count);
            transparentIndex_ = transparentIndex;
            palette_ = std::move(made);
        }
        return palette_;
    }

private:
    static constexpr uint8_t kBlack[3] = {0, 0, 0};
    std::shared_ptr<const Palette> palette_;
    std::vector<uint8_t> colours_;
    int transparentIndex_ = kNoTransparency;
};
static_assert(sizeof(GifColorType) == 3, "giflib's colour maps hold RGB triplets");

// TRUE when every index is below colourCount or is the transparent index.
bool IndicesWithin(const uint8_t* indices, size_t count, int colourCount, int transparentIndex) {
    if (colourCount >= Palette::kEntries) return true;
    // giflib's tables hold a power of two of colours, so an index beyond the table has a bit
    // above the table's bits: one OR over all bytes tells whether any index is beyond it.
    const uint8_t beyond = static_cast<uint8_t>(~(colourCount - 1));
    if ((colourCount & (colourCount - 1)) == 0) {
        uint64_t any = 0;
        size_t i = 0;
        for (; i + sizeof(uint64_t) <= count; i += sizeof(uint64_t)) {
            uint64_t word;
            std::memcpy(&word, indices + i, sizeof(word));
            any |= word;
        }
        for (; i < count; ++i) any |= indices[i];
        uint8_t folded = 0;
        for (size_t b = 0; b < sizeof(any); ++b) folded |= static_cast<uint8_t>(any >> (8 * b));
        if ((folded & beyond) == 0) return true;
    }
    for (size_t i = 0; i < count; ++i) {
        if (indices[i] >= colourCount && indices[i] != transparentIndex) return false;
    }
    return true;
}

// Interlaced rows arrive in four passes: every 8th row from 0, every 8th from 4, every 4th
// from 2, every 2nd from 1.
constexpr int kPassStart[] = {0, 4, 2, 1};
constexpr int kPassStep[] = {8, 8, 4, 2};

bool ReadIndices(GifFileType* gif, const GifImageDesc& desc, uint8_t* indices) {
    if (!desc.Interlace) {
        // One call for the whole image: giflib's per-call work is paid once.
        return DGifGetLine(gif, indices, desc.Width * desc.Height) != GIF_ERROR;
    }
    for (int pass = 0; pass < 4; ++pass) {
        for (int y = kPassStart[pass]; y < desc.Height; y += kPassStep[pass]) {
            uint8_t* row = indices + static_cast<size_t>(y) * static_cast<size_t>(desc.Width);
            if (DGifGetLine(gif, row, desc.Width) == GIF_ERROR) return false;
        }
    }
    return true;
}

// The image of the indices, unless an index is past the colour table (colourCount triplets at
// rgb) and is not the transparent one.
bool TakeIndices(std::unique_ptr<uint8_t[]> indices, int width, int height, const uint8_t* rgb,
                 int colourCount, int transparentIndex, PaletteCache& palettes,
                 DecodedImage* image) {
    const size_t count = static_cast<size_t>(width) * static_cast<size_t>(height);
    if (!IndicesWithin(indices.get(), count, colourCount, transparentIndex)) return false;
    image->width = width;
    image->height = height;
    image->pixels.clear();
    image->palette = palettes.For(rgb, colourCount, transparentIndex);
    image->transparent = transparentIndex != kNoTransparency &&
                         std::memchr(indices.get(), transparentIndex, count) != nullptr;
    image->indices = std::move(indices);
    return true;
}

bool DecodeImageRecord(GifFileType* gif, int transparentIndex, PaletteCache& palettes,
                       DecodedImage* image) {
    if (DGifGetImageDesc(gif) == GIF_ERROR) return false;
    const GifImageDesc& desc = gif->Image;
    if (desc.Width <= 0 || desc.Height <= 0) return false;
    if (!PictureSizeAllowed(static_cast<uint64_t>(desc.Width), static_cast<uint64_t>(desc.Height)))
        return false;
    // Without any colour table the indices mean nothing: such a file is refused.
    const ColorMapObject* map = desc.ColorMap ? desc.ColorMap : gif->SColorMap;
    if (map == nullptr || map->Colors == nullptr || map->ColorCount <= 0) return false;

    const size_t count = static_cast<size_t>(desc.Width) * static_cast<size_t>(desc.Height);
    // Not zero-filled: giflib writes every index, or the decode fails.
    std::unique_ptr<uint8_t[]> indices(new uint8_t[count]);
    if (!ReadIndices(gif, desc, indices.get())) return false;
    return TakeIndices(std::move(indices), desc.Width, desc.Height,
                       reinterpret_cast<const uint8_t*>(map->Colors), map->ColorCount,
                       transparentIndex, palettes, image);
}

bool SkipExtension(GifFileType* gif, int* transparentIndex) {
    int code = 0;
    GifByteType* block = nullptr;
    if (DGifGetExtension(gif, &code, &block) == GIF_ERROR) return false;
    // The last graphic control extension before the image is the one that applies to it.
    if (code == GRAPHICS_EXT_FUNC_CODE) *transparentIndex = TransparentIndexOf(block);
    while (block != nullptr) {
        if (DGifGetExtensionNext(gif, &block) == GIF_ERROR) return false;
    }
    return true;
}

bool DecodeFirstImage(GifFileType* gif, PaletteCache& palettes, DecodedImage* image) {
    int transparentIndex = kNoTransparency;
    for (;;) {
        GifRecordType type = UNDEFINED_RECORD_TYPE;
        if (DGifGetRecordType(gif, &type) == GIF_ERROR) return false;
        switch (type) {
            case IMAGE_DESC_RECORD_TYPE:
                return DecodeImageRecord(gif, transparentIndex, palettes, image);
            case EXTENSION_RECORD_TYPE:
                if (!SkipExtension(gif, &transparentIndex)) return false;
                break;
            default:  // the trailer before any image, or an unknown block
                return false;
        }
    }
}

// The palettes and the own decoder's buffers, for one decode at a time. The buffers are kept
// here rather than by each thread, since every playing animation has a thread that decodes.
struct GifDecoder {
    PaletteCache palettes;
    std::vector<uint8_t> joinedCodes;
    std::unique_ptr<gif::StringTable> strings = std::make_unique<gif::StringTable>();
};

// Idle decoders, at most kKept of them; a borrower prefers one that holds its palette.
class DecoderPool {
public:
    DecoderPool() { idle_.reserve(kKept); }  // so that returning never allocates

    template <typename Preferred>
    std::unique_ptr<GifDecoder> Borrow(Preferred preferred) {
        {
            std::lock_guard<std::mutex> hold(lock_);
            if (!idle_.empty()) {
                auto it = std::find_if(idle_.begin(), idle_.end(),
                                       [&](const auto& decoder) { return preferred(*decoder); });
                if (it == idle_.end()) it = idle_.end() - 1;
                std::unique_ptr<GifDecoder> decoder = std::move(*it);
                idle_.erase(it);
                return decoder;
            }
        }
        return std::make_unique<GifDecoder>();
    }

    // A decoder beyond those kept is destroyed with the parameter, after the lock.
    void Return(std::unique_ptr<GifDecoder> decoder) {
        std::lock_guard<std::mutex> hold(lock_);
        if (idle_.size() < kKept) idle_.push_back(std::move(decoder));
    }

private:
    static constexpr size_t kKept = 4;
    std::mutex lock_;
    std::vector<std::unique_ptr<GifDecoder>> idle_;
};

DecoderPool& ThePool() {
    static DecoderPool* pool = new DecoderPool;  // never destroyed: decodes may outlive statics
    return *pool;
}

// The rows of an interlaced image, stored in the order they arrive, put in their places.
std::unique_ptr<uint8_t[]> Deinterlace(const uint8_t* arrived, int width, int height) {
    std::unique_ptr<uint8_t[]> rows(new uint8_t[static_cast<size_t>(width) * height]);
    const size_t stride = static_cast<size_t>(width);
    for (int pass = 0; pass < 4; ++pass) {
        for (int y = kPassStart[pass]; y < height; y += kPassStep[pass]) {
            std::memcpy(rows.get() + y * stride, arrived, stride);
            arrived += stride;
        }
    }
    return rows;
}

// A decoder borrowed from the pool for one decode, returned whatever happens (an exception
// included).
struct Borrowed {
    template <typename Preferred>
    explicit Borrowed(Preferred preferred) : decoder(ThePool().Borrow(preferred)) {}
    Borrowed(const Borrowed&) = delete;
    Borrowed& operator=(const Borrowed&) = delete;
    ~Borrowed() { ThePool().Return(std::move(decoder)); }
    std::unique_ptr<GifDecoder> decoder;
};

}  // namespace

bool DecodeGifDirect(const uint8_t* data, size_t size, DecodedImage* image) {
    gif::FirstImage first;
    if (!gif::ReadFirstImage(data, size, &first)) return false;
    // The decoder that holds this palette, so that the frames of one animation share it.
    Borrowed borrowed([&](const GifDecoder& decoder) {
        return decoder.palettes.Holds(first.colourTable, first.colours, first.transparent);
    });
    GifDecoder& decoder = *borrowed.decoder;
    gif::CodeReader codes(decoder.joinedCodes);
    if (!gif::JoinCodes(data, size, first, &codes)) return false;
    const size_t count = static_cast<size_t>(first.width) * static_cast<size_t>(first.height);
    std::unique_ptr<uint8_t[]> indices(new uint8_t[count + gif::kIndicesSlack]);
    if (!gif::DecodeCodes(codes, first.codeSize, count, indices.get(), decoder.strings.get()))
        return false;
    if (first.interlaced) indices = Deinterlace(indices.get(), first.width, first.height);
    return TakeIndices(std::move(indices), first.width, first.height, first.colourTable,
                       first.colours, first.transparent, decoder.palettes, image);
}

bool DecodeGifWithGiflib(const uint8_t* data, size_t size, DecodedImage* image) {
    GifReader reader(data, size);
    if (reader.get() == nullptr) return false;
    Borrowed borrowed([](const GifDecoder&) { return false; });  // the palette is not known yet
    return DecodeFirstImage(reader.get(), borrowed.decoder->palettes, image);
}

bool DecodeGif(const uint8_t* data, size_t size, DecodedImage* image) {
    return DecodeGifDirect(data, size, image);
}

}  // namespace platform_ole
