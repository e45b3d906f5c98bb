// OLE picture loading of PNG and JPEG, whose inputs are made with the codecs' own encoders
// (libpng, libjpeg), which exist only for the layer's build.
// ctest-labels: threaded
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "codec_encoders.h"
#include "ole_helpers.h"

namespace {

using namespace portrix_test;

Bytes JpegOf(int w, int h, const std::vector<Rgb>& pixels) {
    Bytes samples;
    for (const Rgb& p : pixels) samples.insert(samples.end(), {p.r, p.g, p.b});
    return EncodeJpeg({w, h, samples});
}

TEST(PngDecoding, ColourTypesExpandAndAlphaBlends) {
    struct {
        const char* what;
        PngSpec png;
        Pixels expected;  // over grey: (s*a + d*(255-a)) / 255, rounded
    } rows[] = {
        {"rgba",
         {2,
          2,
          PNG_COLOR_TYPE_RGBA,
          8,
          false,
          {},
          {},
          {255, 0, 0, 255, 0, 255, 0, 0, 0, 0, 255, 128, 255, 255, 255, 64}},
         {kRed, kGrey, 0x4040C0, 0xA0A0A0}},
        {"palette+tRNS",
         {3,
          1,
          PNG_COLOR_TYPE_PALETTE,
          8,
          false,
          {{10, 20, 30}, {0, 0, 0}, {200, 100, 50}},
          {255, 0},
          {0, 1, 2}},
         {0x0A141E, kGrey, 0xC86432}},
        {"grey 16",
         {2, 1, PNG_COLOR_TYPE_GRAY, 16, false, {}, {}, {0x12, 0x34, 0xFE, 0xDC}},
         {0x121212, 0xFEFEFE}},
        {"adam7",
         {3,
          2,
          PNG_COLOR_TYPE_RGB,
          8,
          true,
          {},
          {},
          {255, 0, 0, 0, 255, 0, 0, 0, 255, 1, 1, 1, 2, 2, 2, 3, 3, 3}},
         {kRed, kGreen, kBlue, 0x010101, 0x020202, 0x030303}},
    };
    for (const auto& row : rows)
        EXPECT_EQ(Hex(row.expected),
                  Hex(LoadAndRender(EncodePng(row.png), row.png.width, row.png.height)))
            << row.what;
}

TEST(JpegDecoding, DecodesWithinTheCodecsTolerance) {
    const Rgb quadrant[] = {{200, 30, 30}, {30, 200, 30}, {30, 30, 200}, {240, 240, 240}};
    std::vector<Rgb> pixels;  // four flat 8 x 8 blocks: nothing for the DCT to smear
    for (int i = 0; i < 256; ++i) pixels.push_back(quadrant[(i / 128) * 2 + (i % 16) / 8]);
    Pixels actual = LoadAndRender(JpegOf(16, 16, pixels), 16, 16);
    ASSERT_EQ(256u, actual.size());
    for (size_t i = 0; i < actual.size(); ++i) {
        EXPECT_NEAR(pixels[i].r, static_cast<int>(actual[i] >> 16), 6) << i;
        EXPECT_NEAR(pixels[i].g, static_cast<int>((actual[i] >> 8) & 0xFF), 6) << i;
        EXPECT_NEAR(pixels[i].b, static_cast<int>(actual[i] & 0xFF), 6) << i;
    }
}

TEST(OleLoadPicture, RefusesPngAndJpegPicturesOverTheSizeLimits) {
    auto grey = [](int w) {
        return EncodePng({w, 1, PNG_COLOR_TYPE_GRAY, 8, false, {}, {}, Bytes(size_t(w), 7)});
    };
    auto jpeg = [](int w) { return JpegOf(w, 1, std::vector<Rgb>(size_t(w), Rgb{1, 2, 3})); };
    struct {
        const char* what;
        Bytes data;
        HRESULT expected;
    } rows[] = {
        {"png 8192", grey(8192), S_OK},
        {"png 8193", grey(8193), CTL_E_INVALIDPICTURE},
        {"jpeg 8192", jpeg(8192), S_OK},
        {"jpeg 8193", jpeg(8193), CTL_E_INVALIDPICTURE},
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
    Bytes jpeg = JpegOf(16, 16, noise);
    return {{"png", png, png.size()}, {"jpeg", jpeg, jpeg.size()}};
}

TEST(OleLoadPicture, TruncatedOrCorruptPngAndJpegFailCleanly) {
    ExpectDamageFailsCleanly(Samples());
}

}  // namespace
