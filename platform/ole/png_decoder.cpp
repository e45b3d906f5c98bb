// PNG through libpng's classic read API. Every colour type is expanded to 8-bit RGBA; alpha
// stays straight and is blended when the picture is rendered.
#include <png.h>

#include <csetjmp>
#include <vector>

#include "ole/decoded_image.h"

namespace platform_ole {
namespace {

void ReadFromMemory(png_structp png, png_bytep out, png_size_t length) {
    auto* source = static_cast<MemorySource*>(png_get_io_ptr(png));
    if (length > source->Remaining()) png_error(png, "truncated data");
    source->Take(out, length);
}

void OnError(png_structp png, png_const_charp) {
    png_longjmp(png, 1);
}
void OnWarning(png_structp, png_const_charp) {}

// Everything that must outlive a longjmp lives here, outside the frame that calls setjmp.
struct ReadState {
    png_structp png = nullptr;
    png_infop info = nullptr;
    std::vector<uint8_t> rgba;
    std::vector<png_bytep> rows;
    png_uint_32 width = 0;
    png_uint_32 height = 0;

    ~ReadState() {
        if (png) png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
    }
};

// Only trivially destructible locals here: libpng leaves this frame by longjmp on any error.
bool ReadRgba(ReadState* state, MemorySource* source) {
    png_structp png = state->png;
    png_infop info = state->info;
    if (setjmp(png_jmpbuf(png))) return false;

    png_set_read_fn(png, source, ReadFromMemory);
    png_set_user_limits(png, kMaxPictureSide, kMaxPictureSide);
    png_read_info(png, info);

    state->width = png_get_image_width(png, info);
    state->height = png_get_image_height(png, info);
    if (!PictureSizeAllowed(state->width, state->height)) return false;

    png_set_expand(png);  // palette to RGB, low-depth gray to 8 bits, tRNS to alpha
    png_set_strip_16(png);
    png_set_gray_to_rgb(png);
    png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    if (png_get_rowbytes(png, info) != static_cast<size_t>(state->width) * 4) return false;

    // At most 8192 x 4096 x 4 bytes after the check above: no overflow.
    size_t stride = static_cast<size_t>(state->width) * 4;
    state->rgba.resize(stride * state->height);
    state->rows.resize(state->height);
    for (png_uint_32 y = 0; y < state->height; ++y)
        state->rows[y] = state->rgba.data() + y * stride;
    png_read_image(png, state->rows.data());
    png_read_end(png, nullptr);
    return true;
}

}  // namespace

bool DecodePng(const uint8_t* data, size_t size, DecodedImage* image) {
    if (size < 8 || png_sig_cmp(data, 0, 8) != 0) return false;
    MemorySource source{data, size, 0};
    ReadState state;
    state.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, OnError, OnWarning);
    if (state.png == nullptr) return false;
    state.info = png_create_info_struct(state.png);
    if (state.info == nullptr) return false;
    if (!ReadRgba(&state, &source)) return false;

    DecodedImage decoded;
    if (!AllocateImage(&decoded, state.width, state.height)) return false;
    const uint8_t* p = state.rgba.data();
    for (uint32_t& pixel : decoded.pixels) {
        pixel = MakeArgb(p[3], p[0], p[1], p[2]);
        p += 4;
    }
    *image = std::move(decoded);
    return true;
}

}  // namespace platform_ole
