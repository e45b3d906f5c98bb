// Writes the seed corpora of the fuzzers other than the GIF one, each into its own folder below
// the folder given as the only argument: png, jpeg, bmp (made with the codecs' own encoders,
// or by hand for BMP), hive, profile, base64 and version (texts that reach their readers'
// forms, including damaged ones).
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "codec_encoders.h"
#include "handmade_bytes.h"

namespace {

using namespace portrix_test;

struct Seed {
    std::string folder;
    std::string name;
    Bytes bytes;
};

Bytes FromText(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

// A pattern of count bytes, varied from row to row.
Bytes Pattern(size_t count, size_t rowBytes) {
    Bytes bytes(count);
    for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>(i * 37 + i / rowBytes * 11);
    return bytes;
}

// A 7 x 5 PNG of a pattern; a palette (with transparency) of paletteSize entries when given.
Bytes PatternPng(int colorType, int bitDepth, bool interlaced, int paletteSize) {
    constexpr int kWidth = 7, kHeight = 5;
    const int channels = colorType == PNG_COLOR_TYPE_RGB          ? 3
                         : colorType == PNG_COLOR_TYPE_RGB_ALPHA  ? 4
                         : colorType == PNG_COLOR_TYPE_GRAY_ALPHA ? 2
                                                                  : 1;
    const size_t rowBytes = (static_cast<size_t>(kWidth) * channels * bitDepth + 7) / 8;
    PngSpec spec{kWidth,     kHeight, colorType, bitDepth,
                 interlaced, {},      {},        Pattern(rowBytes * kHeight, rowBytes)};
    for (int i = 0; i < paletteSize; ++i) {
        spec.palette.push_back({static_cast<png_byte>(i * 3), static_cast<png_byte>(255 - i),
                                static_cast<png_byte>(i * 7)});
        spec.paletteAlpha.push_back(static_cast<uint8_t>(255 - i * 5));
    }
    if (paletteSize > 0) {
        for (uint8_t& b : spec.raw)
            b = static_cast<uint8_t>(b % (bitDepth == 8 ? paletteSize : 1 << bitDepth));
    }
    return EncodePng(spec);
}

// A BMP of a pattern with an info header of infoSize bytes and paletteSize entries.
Bytes PatternBmp(int width, int height, int bitCount, int paletteSize, uint32_t infoSize,
                 uint32_t compression) {
    std::vector<Rgb> palette;
    for (int i = 0; i < paletteSize; ++i)
        palette.push_back(Rgb{uint8_t(i * 16), uint8_t(i * 32), uint8_t(i * 48)});
    const size_t rowBytes = (static_cast<size_t>(width) * bitCount + 31) / 32 * 4;
    return BuildBmp(width, height, bitCount, palette,
                    Pattern(rowBytes * std::abs(height), rowBytes), infoSize, compression);
}

JpegSpec PatternJpeg(int width, int height, bool gray) {
    const size_t rowBytes = static_cast<size_t>(width) * (gray ? 1 : 3);
    JpegSpec spec{width, height, Pattern(rowBytes * height, rowBytes)};
    spec.gray = gray;
    spec.quality = 75;
    return spec;
}

void AddPictures(std::vector<Seed>* seeds) {
    struct PngCase {
        const char* name;
        int colorType, bitDepth;
        bool interlaced;
        int paletteSize;
    } pngs[] = {
        {"gray1", PNG_COLOR_TYPE_GRAY, 1, false, 0},
        {"gray4", PNG_COLOR_TYPE_GRAY, 4, false, 0},
        {"gray16", PNG_COLOR_TYPE_GRAY, 16, false, 0},
        {"gray_alpha", PNG_COLOR_TYPE_GRAY_ALPHA, 8, false, 0},
        {"rgb8", PNG_COLOR_TYPE_RGB, 8, false, 0},
        {"rgb16_interlaced", PNG_COLOR_TYPE_RGB, 16, true, 0},
        {"rgba8", PNG_COLOR_TYPE_RGB_ALPHA, 8, false, 0},
        {"palette2_trns", PNG_COLOR_TYPE_PALETTE, 2, false, 4},
        {"palette8_trns", PNG_COLOR_TYPE_PALETTE, 8, true, 200},
    };
    for (const PngCase& c : pngs) {
        seeds->push_back({"png", std::string(c.name) + ".png",
                          PatternPng(c.colorType, c.bitDepth, c.interlaced, c.paletteSize)});
    }
    JpegSpec progressive = PatternJpeg(17, 9, false);
    progressive.progressive = true;
    JpegSpec subsampled = PatternJpeg(33, 16, false);
    subsampled.subsampled = true;
    subsampled.restartRows = 1;
    subsampled.quality = 30;
    for (const auto& [name, spec] :
         {std::pair<const char*, JpegSpec>{"baseline", PatternJpeg(16, 16, false)},
          {"gray", PatternJpeg(16, 16, true)},
          {"progressive", progressive},
          {"subsampled_restarts", subsampled}}) {
        seeds->push_back({"jpeg", std::string(name) + ".jpg", EncodeJpeg(spec)});
    }
    struct BmpCase {
        const char* name;
        int width, height, bitCount, paletteSize;
        uint32_t infoSize, compression;
    } bmps[] = {
        {"mono", 9, 3, 1, 2, 40, 0},           {"4bit", 5, 3, 4, 16, 40, 0},
        {"8bit_top_down", 3, -2, 8, 4, 40, 0}, {"24bit", 3, 2, 24, 0, 40, 0},
        {"32bit_v4", 2, 2, 32, 0, 108, 0},     {"24bit_v5", 2, 1, 24, 0, 124, 0},
        {"rle8", 4, 2, 8, 2, 40, 1},           {"16bit_bitfields", 2, 2, 16, 0, 40, 3},
    };
    for (const BmpCase& c : bmps) {
        seeds->push_back(
            {"bmp", std::string(c.name) + ".bmp",
             PatternBmp(c.width, c.height, c.bitCount, c.paletteSize, c.infoSize, c.compression)});
    }
}

void AddTexts(std::vector<Seed>* seeds) {
    const std::string share = "[HKEY_CURRENT_USER\\Software\\szDomain\\Share]\r\n";
    const std::string hives[] = {
        "REGEDIT4\r\n\r\n" + share + "\"Path\"=\"C:\\\\App \\\"quoted\\\"\"\r\n@=\"default\"\r\n" +
            "\"Number\"=dword:0000001f\r\n\"Binary\"=hex:01,02,ff\r\n\"Expand\"=hex(2):25,41,25,"
            "00\r\n" +
            "\"Long\"=hex:01,02,\\\r\n  03,04\r\n\"Gone\"=\"x\"\r\n\"Gone\"=-\r\n; comment\r\n",
        "REGEDIT4\r\n[HKEY_CURRENT_USER\\Software\\A]\r\n\"a\"=\"1\"\r\n[HKEY_CURRENT_"
        "USER\\Software\\A\\B]\r\n" +
            std::string("\"b\"=hex(7):6f,6e,65,00,00\r\n[-HKEY_CURRENT_USER\\Software\\A]\r\n["
                        "HKCU\\software\\a]\r\n"),
        Utf16Le("Windows Registry Editor Version 5.00\r\n\r\n" + share +
                "\"Path\"=\"/opt/app\"\r\n\"E\"=hex(2):25,00,41,00,25,00,00,00\r\n"),
        "REGEDIT4\r" + share.substr(0, share.size() - 2) + "\r\"Path\"=\"/opt/app\"\r",
        "\xef\xbb\xbfWindows Registry Editor Version "
        "5.00\n[\\-HKEY_CURRENT_USER\\Software]\n\"x\"=\"y\"\n",
    };
    int n = 0;
    for (const std::string& hive : hives)
        seeds->push_back({"hive", "hive" + std::to_string(++n) + ".reg", FromText(hive)});

    const std::string profiles[] = {
        "; settings\r\n[SYSTEM]\r\nLASTDELETETIME=2004/03/07 09:05:00\r\n  Spaced Key  =  spaced  "
        "\r\n"
        "Quoted=\"  inside  \"\r\nSingle='single'\r\nEmpty=\r\nTwice=1\r\ntwice=2\r\nNoEquals\r\n",
        "[Other]\nKey=LF only\n[ Padded ]\r\nKey = "
        "padded\r\nNumber=0x1F\r\nNegative=-42\r\n[Empty]\r\n",
        "Key=before any section\r\n[SYSTEM\r\n[]\r\n=no name\r\n",
    };
    n = 0;
    for (const std::string& profile : profiles) {
        seeds->push_back({"profile", "profile" + std::to_string(++n) + ".ini", FromText(profile)});
    }

    const std::string base64[] = {
        "aHR0cDovLyVzL2NfYXZhdGFyLyVz", "YQ==", "YWI=", "YWJj", "=x==", "a!b", "YW"};
    n = 0;
    for (const std::string& text : base64)
        seeds->push_back({"base64", "base64_" + std::to_string(++n), FromText(text)});

    std::string table;
    for (int i = 0; i < 30; ++i) table += i % 7 == 0 ? " -012" : "00001";
    const std::string versions[] = {std::string("\x01\x02\x00\x05", 4) + table,
                                    std::string("\x02\x09\x12\x34", 4) + table.substr(0, 77),
                                    std::string("\x00\x00\xff\xff", 4) + "+0004  99x" + table};
    n = 0;
    for (const std::string& text : versions)
        seeds->push_back({"version", "version" + std::to_string(++n), FromText(text)});
}

bool Write(const std::string& root, const Seed& seed) {
    const std::string folder = root + "/" + seed.folder;
    mkdir(folder.c_str(), 0777);
    FILE* f = std::fopen((folder + "/" + seed.name).c_str(), "wb");
    if (f == nullptr) return false;
    const bool ok = std::fwrite(seed.bytes.data(), 1, seed.bytes.size(), f) == seed.bytes.size();
    return std::fclose(f) == 0 && ok && !seed.bytes.empty();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <folder for the corpora>\n", argv[0]);
        return 2;
    }
    std::vector<Seed> seeds;
    AddPictures(&seeds);
    AddTexts(&seeds);
    for (const Seed& seed : seeds) {
        if (!Write(argv[1], seed)) {
            std::fprintf(stderr, "cannot write %s/%s/%s\n", argv[1], seed.folder.c_str(),
                         seed.name.c_str());
            return 1;
        }
    }
    return 0;
}
