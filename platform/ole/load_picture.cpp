// OleLoadPicture: reads the picture's bytes from the stream, recognises the format by its
// signature and hands the bytes to that format's decoder.
#include <olectl.h>

#include <cstring>
#include <new>
#include <vector>

#include "ole/decoded_cache.h"
#include "ole/decoded_image.h"
#include "ole/hglobal_stream.h"
#include "ole/picture.h"

namespace platform_ole {
namespace {

constexpr ULONG kReadChunk = 64 * 1024;

bool StartsWith(const uint8_t* data, size_t size, const char* signature, size_t length) {
    return size >= length && std::memcmp(data, signature, length) == 0;
}

Decoder DecoderFor(const uint8_t* data, size_t size) {
    if (StartsWith(data, size, "GIF87a", 6) || StartsWith(data, size, "GIF89a", 6))
        return DecodeGif;
    if (StartsWith(data, size, "\x89PNG\r\n\x1a\n", 8)) return DecodePng;
    if (StartsWith(data, size, "\xFF\xD8\xFF", 3)) return DecodeJpeg;
    if (StartsWith(data, size, "BM", 2)) return DecodeBmp;
    return nullptr;
}

// The picture in size bytes at data, with one reference, or the failure. Bytes loaded before
// for a picture that still lives are neither checked nor decoded again: the new picture shares
// their source. A GIF is only checked here and decoded when it is first drawn, so that loading
// the many frames of an animation does not cost their decoding; other formats are decoded now.
HRESULT MakePicture(const uint8_t* data, size_t size, IPicture** picture) {
    Decoder decode = DecoderFor(data, size);
    if (decode == nullptr) return CTL_E_INVALIDPICTURE;
    const Content content = ContentOf(data, size);
    std::shared_ptr<PictureSource> source = FindSource(content);
    if (source == nullptr) {
        if (decode == DecodeGif) {
            GifFacts facts;
            if (!CheckGif(data, size, &facts)) return CTL_E_INVALIDPICTURE;
            source = std::make_shared<PictureSource>(content, decode, facts.width, facts.height);
        } else {
            DecodedImage image;
            if (!decode(data, size, &image)) return CTL_E_INVALIDPICTURE;
            source = std::make_shared<PictureSource>(content, std::move(image));
        }
        source = ShareSource(content, std::move(source));
    }
    *picture = CreatePicture(std::move(source));
    return *picture != nullptr ? S_OK : E_OUTOFMEMORY;
}

// Reads limit bytes (0: up to the end) from the stream's current position. The buffer grows
// with what actually arrives, so a size claimed by the caller never decides an allocation.
HRESULT ReadStream(IStream* stream, ULONGLONG limit, std::vector<uint8_t>* data) {
    for (;;) {
        ULONGLONG want = kReadChunk;
        if (limit != 0) {
            if (data->size() >= limit) return S_OK;
            want = std::min<ULONGLONG>(want, limit - data->size());
        }
        size_t used = data->size();
        data->resize(used + static_cast<size_t>(want));
        ULONG got = 0;
        HRESULT hr = stream->Read(data->data() + used, static_cast<ULONG>(want), &got);
        data->resize(used + got);
        if (FAILED(hr)) return hr;
        if (got == 0) return S_OK;
    }
}

}  // namespace
}  // namespace platform_ole

HRESULT OleLoadPicture(LPSTREAM lpstream, LONG lSize, BOOL, REFIID riid, LPVOID* lplpvObj) {
    using namespace platform_ole;
    if (lplpvObj == nullptr) return E_POINTER;
    *lplpvObj = nullptr;
    if (lpstream == nullptr) return E_POINTER;
    if (riid != IID_IPicture && riid != IID_IUnknown) return E_NOINTERFACE;

    try {
        const ULONGLONG limit = lSize > 0 ? static_cast<ULONGLONG>(lSize) : 0;
        IPicture* picture = nullptr;
        HRESULT hr = E_FAIL;
        // A stream over global memory is decoded where its bytes lie; others are read first.
        auto make = [&](const uint8_t* data, size_t size) {
            hr = MakePicture(data, size, &picture);
        };
        if (!UseStreamBytesInPlace(lpstream, limit, make)) {
            std::vector<uint8_t> data;
            hr = ReadStream(lpstream, limit, &data);
            if (FAILED(hr)) return hr;
            make(data.data(), data.size());
        }
        if (FAILED(hr)) return hr;
        *lplpvObj = static_cast<IPicture*>(picture);  // IUnknown and IPicture share the pointer
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}
