// GIF through giflib: the first image of the file, at its own size (not the logical screen's),
// so that a frame cut out of an animation decodes to exactly its own rectangle. The picture
// keeps giflib's palette indices and a palette, so decoding is giflib's work and nothing more.
//
// The frames of one animation reach the decoder one after another as separate files with the
// same header, screen descriptor and global colour table. A decoder therefore keeps giflib open
// after a clean decode, and goes on from there when the next file starts with the same bytes,
// instead of opening giflib (which clears its tables) and reading the colour table again; and
// it hands the next picture of the same colours the same palette. Pictures are decoded when
// first drawn, on whichever thread draws them (every playing animation has a thread of its
// own), so the decoders are not kept per thread but in a small pool that any thread borrows
// from: what they hold stays bounded however many threads decode.
#include <gif_lib.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

#include "ole/decoded_image.h"

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

// giflib, open on this thread, positioned after the prologue (header, logical screen descriptor
// and global colour table) of the file it read last.
class GifReader {
public:
    GifReader() = default;
    GifReader(const GifReader&) = delete;
    GifReader& operator=(const GifReader&) = delete;
    ~GifReader() { Close(); }

    // TRUE when data starts with the prologue that giflib stands after.
    bool Continues(const uint8_t* data, size_t size) const {
        return gif_ != nullptr && size >= prologue_.size() &&
               std::memcmp(data, prologue_.data(), prologue_.size()) == 0;
    }

    // giflib ready to read the first block after data's prologue, or null when data is no GIF.
    GifFileType* Begin(const uint8_t* data, size_t size) {
        if (Continues(data, size)) {
            source_ = MemorySource{data, size, prologue_.size()};
            return gif_;
        }
        Close();
        source_ = MemorySource{data, size, 0};
        int error = 0;
        gif_ = DGifOpen(&source_, ReadFromMemory, &error);
        if (gif_ == nullptr) return nullptr;
        try {
            prologue_.assign(data, data + source_.pos);
        } catch (const std::bad_alloc&) {
            Close();
            throw;
        }
        return gif_;
    }

    // After a picture: giflib is kept for the next one only when it read this one cleanly, so
    // it stands at a block boundary.
    void Finish(bool clean) {
        source_ = MemorySource{nullptr, 0, 0};
        if (!clean) {
            Close();
            return;
        }
        // giflib records every image descriptor it reads; these are not wanted here.
        GifFreeSavedImages(gif_);
        gif_->ImageCount = 0;
    }

private:
    void Close() {
        int error = 0;
        if (gif_ != nullptr) DGifCloseFile(gif_, &error);
        gif_ = nullptr;
        prologue_.clear();
    }

    GifFileType* gif_ = nullptr;
    MemorySource source_{nullptr, 0, 0};
    std::vector<uint8_t> prologue_;
};

// The palette of the last colour table and transparent index seen on this thread.
class PaletteCache {
public:
    std::shared_ptr<const Palette> For(const ColorMapObject& map, int transparentIndex) {
        const size_t count = static_cast<size_t>(std::min(map.ColorCount, Palette::kEntries));
        if (palette_ == nullptr || transparentIndex != transparentIndex_ ||
            colours_.size() != count ||
            std::memcmp(colours_.data(), map.Colors, count * sizeof(GifColorType)) != 0) {
            auto made = std::make_shared<Palette>();
            for (size_t i = 0; i < Palette::kEntries; ++i) {
                const GifColorType c = i < count ? map.Colors[i] : GifColorType{0, 0, 0};
                made->argb[i] = MakeArgb(0xFF, c.Red, c.Green, c.Blue);
            }
            if (transparentIndex != kNoTransparency) made->argb[transparentIndex] = 0;
            colours_.assign(map.Colors, map.Colors + count);
            transparentIndex_ = transparentIndex;
            palette_ = std::move(made);
        }
        return palette_;
    }

private:
    std::shared_ptr<const Palette> palette_;
    std::vector<GifColorType> colours_;
    int transparentIndex_ = kNoTransparency;
};

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
    // An index past the table: corrupt.
    if (!IndicesWithin(indices.get(), count, map->ColorCount, transparentIndex)) return false;

    image->width = desc.Width;
    image->height = desc.Height;
    image->pixels.clear();
    image->palette = palettes.For(*map, transparentIndex);
    image->transparent = transparentIndex != kNoTransparency &&
                         std::memchr(indices.get(), transparentIndex, count) != nullptr;
    image->indices = std::move(indices);
    return true;
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

// giflib and the palettes, for one decode at a time.
struct GifDecoder {
    GifReader reader;
    PaletteCache palettes;
};

// Idle decoders, at most kKept of them; a borrower prefers one that continues its bytes.
class DecoderPool {
public:
    DecoderPool() { idle_.reserve(kKept); }  // so that returning never allocates

    std::unique_ptr<GifDecoder> Borrow(const uint8_t* data, size_t size) {
        {
            std::lock_guard<std::mutex> hold(lock_);
            if (!idle_.empty()) {
                auto it = std::find_if(idle_.begin(), idle_.end(), [&](const auto& decoder) {
                    return decoder->reader.Continues(data, size);
                });
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

}  // namespace

bool DecodeGif(const uint8_t* data, size_t size, DecodedImage* image) {
    // Whatever happens (an exception included), the decoder goes back to the pool, and it keeps
    // giflib open only after a clean decode.
    struct Borrowed {
        std::unique_ptr<GifDecoder> decoder;
        bool clean = false;
        ~Borrowed() {
            decoder->reader.Finish(clean);
            ThePool().Return(std::move(decoder));
        }
    } borrowed{ThePool().Borrow(data, size)};
    GifFileType* gif = borrowed.decoder->reader.Begin(data, size);
    if (gif == nullptr) return false;
    borrowed.clean = DecodeFirstImage(gif, borrowed.decoder->palettes, image);
    return borrowed.clean;
}

}  // namespace platform_ole
