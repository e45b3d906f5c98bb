// OLE picture loading of PNG and JPEG, whose inputs are made with the codecs' own encoders
// (libpng, libjpeg), which exist only for the layer's build.
// ctest-labels: threaded
#include <cstdio>  // jpeglib.h needs FILE first
#include <gtest/gtest.h>
#include <jpeglib.h>
#include <png.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "ole_helpers.h"

namespace {

using namespace portrix_test;

struct PngSpec {
    int width, height, colorType, bitDepth;
    bool interlaced;
    std::vector<png_color> palette;
    Bytes paletteAlpha;
    Bytes raw;  // rows of samples as the format stores them
};

Bytes EncodePng(const PngSpec& s) {
    Bytes out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    auto write = [](png_structp p, png_bytep data, png_size_t n) {
        static_cast<Bytes*>(png_get_io_ptr(p))->insert(static_cast<Bytes*>(png_get_io_ptr(p))->end(), data, data + n);
    };
    png_set_write_fn(png, &out, write, nullptr);
    png_set_IHDR(png, info, s.width, s.height, s.bitDepth, s.colorType,
                 s.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, 0, 0);
    if (!s.palette.empty()) png_set_PLTE(png, info, s.palette.data(), static_cast<int>(s.palette.size()));
    if (!s.paletteAlpha.empty())
        png_set_tRNS(png, info, s.paletteAlpha.data(), static_cast<int>(s.paletteAlpha.size()), nullptr);
    png_write_info(png, info);
    std::vector<png_bytep> rows;
    for (int y = 0; y < s.height; ++y)
        rows.push_back(const_cast<uint8_t*>(s.raw.data()) + y * (s.raw.size() / s.height));
    png_write_image(png, rows.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

Bytes EncodeJpeg(int w, int h, const std::vector<Rgb>& pixels) {
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr errors{};
    cinfo.err = jpeg_std_error(&errors);
    jpeg_create_compress(&cinfo);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = static_cast<JDIMENSION>(w);
    cinfo.image_height = static_cast<JDIMENSION>(h);
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 95, TRUE);
    for (int c = 0; c < 3; ++c) cinfo.comp_info[c].h_samp_factor = cinfo.comp_info[c].v_samp_factor = 1;
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(&pixels[cinfo.next_scanline * w].r);  // Rgb is 3 packed bytes
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    Bytes out(buffer, buffer + size);
    jpeg_destroy_compress(&cinfo);
    free(buffer);
    return out;
}

TEST(PngDecoding, ColourTypesExpandAndAlphaBlends) {
    struct {
        const char* what;
        PngSpec png;
        Pixels expected;  // over grey: (s*a + d*(255-a)) / 255, rounded
    } rows[] = {
        {"rgba", {2, 2, PNG_COLOR_TYPE_RGBA, 8, false, {}, {}, {255, 0, 0, 255, 0, 255, 0, 0, 0, 0, 255, 128, 255, 255, 255, 64}},
         {kRed, kGrey, 0x4040C0, 0xA0A0A0}},
        {"palette+tRNS", {3, 1, PNG_COLOR_TYPE_PALETTE, 8, false, {{10, 20, 30}, {0, 0, 0}, {200, 100, 50}}, {255, 0}, {0, 1, 2}},
         {0x0A141E, kGrey, 0xC86432}},
        {"grey 16", {2, 1, PNG_COLOR_TYPE_GRAY, 16, false, {}, {}, {0x12, 0x34, 0xFE, 0xDC}}, {0x121212, 0xFEFEFE}},
        {"adam7", {3, 2, PNG_COLOR_TYPE_RGB, 8, true, {}, {}, {255, 0, 0, 0, 255, 0, 0, 0, 255, 1, 1, 1, 2, 2, 2, 3, 3, 3}},
         {kRed, kGreen, kBlue, 0x010101, 0x020202, 0x030303}},
    };
    for (const auto& row : rows)
        EXPECT_EQ(Hex(row.expected), Hex(LoadAndRender(EncodePng(row.png), row.png.width, row.png.height))) << row.what;
}

TEST(JpegDecoding, DecodesWithinTheCodecsTolerance) {
    const Rgb quadrant[] = {{200, 30, 30}, {30, 200, 30}, {30, 30, 200}, {240, 240, 240}};
    std::vector<Rgb> pixels;  // four flat 8 x 8 blocks: nothing for the DCT to smear
    for (int i = 0; i < 256; ++i) pixels.push_back(quadrant[(i / 128) * 2 + (i % 16) / 8]);
    Pixels actual = LoadAndRender(EncodeJpeg(16, 16, pixels), 16, 16);
    ASSERT_EQ(256u, actual.size());
    for (size_t i = 0; i < actual.size(); ++i) {
        EXPECT_NEAR(pixels[i].r, static_cast<int>(actual[i] >> 16), 6) << i;
        EXPECT_NEAR(pixels[i].g, static_cast<int>((actual[i] >> 8) & 0xFF), 6) << i;
        EXPECT_NEAR(pixels[i].b, static_cast<int>(actual[i] & 0xFF), 6) << i;
    }
}

TEST(OleLoadPicture, RefusesPngAndJpegPicturesOverTheSizeLimits) {
    auto grey = [](int w) { return EncodePng({w, 1, PNG_COLOR_TYPE_GRAY, 8, false, {}, {}, Bytes(size_t(w), 7)}); };
    auto jpeg = [](int w) { return EncodeJpeg(w, 1, std::vector<Rgb>(size_t(w), Rgb{1, 2, 3})); };
    struct {
        const char* what;
        Bytes data;
        HRESULT expected;
    } rows[] = {
        {"png 8192", grey(8192), S_OK}, {"png 8193", grey(8193), CTL_E_INVALIDPICTURE},
        {"jpeg 8192", jpeg(8192), S_OK}, {"jpeg 8193", jpeg(8193), CTL_E_INVALIDPICTURE},
    };
    for (const auto& row : rows) {
        ComPtr<IPicture> picture;
        EXPECT_EQ(row.expected, LoadPicture(row.data, &picture)) << row.what;
    }
}

std::vector<Sample> Samples() {
    Bytes png = EncodePng({4, 4, PNG_COLOR_TYPE_RGBA, 8, false, {}, {}, Bytes(64, 99)});
    std::vector<Rgb> noise;
    for (int i = 0; i < 256; ++i) noise.push_back({uint8_t(i * 7), uint8_t(i * 13), uint8_t(i)});
    Bytes jpeg = EncodeJpeg(16, 16, noise);
    return {{"png", png, png.size()}, {"jpeg", jpeg, jpeg.size()}};
}

TEST(OleLoadPicture, TruncatedOrCorruptPngAndJpegFailCleanly) { ExpectDamageFailsCleanly(Samples()); }

}  // namespace
