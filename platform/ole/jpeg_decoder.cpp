// JPEG through libjpeg-turbo, decoded to RGB. Errors leave by longjmp; warnings (corrupt or
// truncated data that libjpeg would paper over) are treated as errors too.
#include <cstdio>  // jpeglib.h needs FILE and size_t first
#include <jpeglib.h>

#include <csetjmp>
#include <vector>

#include "ole/decoded_image.h"

namespace platform_ole {
namespace {

struct ErrorManager {
    jpeg_error_mgr base;  // first, so that the library's pointer is also ours
    std::jmp_buf jump;
};

[[noreturn]] void OnError(j_common_ptr cinfo) {
    std::longjmp(reinterpret_cast<ErrorManager*>(cinfo->err)->jump, 1);
}

void OnMessage(j_common_ptr cinfo, int level) {
    if (level < 0) std::longjmp(reinterpret_cast<ErrorManager*>(cinfo->err)->jump, 1);
    // Trace messages (level >= 0) are of no interest.
}

// A progressive file may split its data into any number of scans, each of which costs a pass
// over the whole image: a few kilobytes of them can keep a decoder busy for minutes. Real
// encoders write about ten.
constexpr int kMaxProgressiveScans = 500;

void OnProgress(j_common_ptr cinfo) {
    auto* decompress = reinterpret_cast<j_decompress_ptr>(cinfo);
    if (decompress->input_scan_number > kMaxProgressiveScans)
        std::longjmp(reinterpret_cast<ErrorManager*>(cinfo->err)->jump, 1);
}

struct ReadState {
    jpeg_decompress_struct cinfo{};
    ErrorManager errors{};
    jpeg_progress_mgr progress{};
    bool created = false;
    std::vector<uint8_t> rgb;
    JDIMENSION width = 0;
    JDIMENSION height = 0;

    ~ReadState() {
        if (created) jpeg_destroy_decompress(&cinfo);
    }
};

// Only trivially destructible locals here: libjpeg leaves this frame by longjmp on any error.
bool ReadRgb(ReadState* state, const uint8_t* data, size_t size) {
    jpeg_decompress_struct* cinfo = &state->cinfo;
    cinfo->err = jpeg_std_error(&state->errors.base);
    state->errors.base.error_exit = OnError;
    state->errors.base.emit_message = OnMessage;
    if (setjmp(state->errors.jump)) return false;

    jpeg_create_decompress(cinfo);
    state->created = true;
    state->progress.progress_monitor = OnProgress;
    cinfo->progress = &state->progress;
    jpeg_mem_src(cinfo, data, static_cast<unsigned long>(size));
    if (jpeg_read_header(cinfo, TRUE) != JPEG_HEADER_OK) return false;
    if (!PictureSizeAllowed(cinfo->image_width, cinfo->image_height)) return false;

    cinfo->out_color_space = JCS_RGB;
    jpeg_start_decompress(cinfo);
    if (cinfo->output_components != 3) return false;
    state->width = cinfo->output_width;
    state->height = cinfo->output_height;
    if (!PictureSizeAllowed(state->width, state->height)) return false;

    size_t stride = static_cast<size_t>(state->width) * 3;  // limits checked: no overflow
    state->rgb.resize(stride * state->height);
    while (cinfo->output_scanline < cinfo->output_height) {
        JSAMPROW row = state->rgb.data() + cinfo->output_scanline * stride;
        if (jpeg_read_scanlines(cinfo, &row, 1) != 1) return false;
    }
    jpeg_finish_decompress(cinfo);
    return true;
}

}  // namespace

bool DecodeJpeg(const uint8_t* data, size_t size, DecodedImage* image) {
    if (size < 3 || data[0] != 0xFF || data[1] != 0xD8 || data[2] != 0xFF) return false;
    ReadState state;
    if (!ReadRgb(&state, data, size)) return false;

    DecodedImage decoded;
    if (!AllocateImage(&decoded, state.width, state.height)) return false;
    const uint8_t* p = state.rgb.data();
    for (uint32_t& pixel : decoded.pixels) {
        pixel = MakeArgb(0xFF, p[0], p[1], p[2]);
        p += 3;
    }
    *image = std::move(decoded);
    return true;
}

}  // namespace platform_ole
