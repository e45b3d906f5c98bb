// Writes the seed corpora of the fuzzers other than the GIF one, each into its own folder below
// the folder given as the only argument: png, jpeg, bmp (made with the codecs' own encoders,
// or by hand for BMP), hive, profile, base64 and version (texts that reach their readers'
// forms, including damaged ones).
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

// jpeglib.h needs size_t and FILE declared before it.
#include <jpeglib.h>
#include <png.h>

namespace {

using Bytes = std::vector<uint8_t>;

struct Seed {
    std::string folder;
    std::string name;
    Bytes bytes;
};

Bytes FromText(const std::string& text) { return Bytes(text.begin(), text.end()); }

// A gradient of width x height samples of the given number of channels and bit depth, rows
// packed as PNG stores them.
Bytes PngRows(int width, int height, int channels, int bitDepth) {
    const size_t rowBytes = (static_cast<size_t>(width) * channels * bitDepth + 7) / 8;
    Bytes rows(rowBytes * height);
    for (size_t i = 0; i < rows.size(); ++i) rows[i] = static_cast<uint8_t>(i * 37 + i / rowBytes * 11);
    return rows;
}

Bytes EncodePng(int width, int height, int colorType, int bitDepth, bool interlaced, int paletteSize = 0) {
    Bytes out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return {};
    }
    png_set_write_fn(
        png, &out,
        [](png_structp p, png_bytep data, png_size_t n) {
            auto* bytes = static_cast<Bytes*>(png_get_io_ptr(p));
            bytes->insert(bytes->end(), data, data + n);
        },
        nullptr);
    png_set_IHDR(png, info, width, height, bitDepth, colorType, interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    std::vector<png_color> palette(paletteSize);
    Bytes alpha(paletteSize);
    for (int i = 0; i < paletteSize; ++i) {
        palette[i] = {static_cast<png_byte>(i * 3), static_cast<png_byte>(255 - i), static_cast<png_byte>(i * 7)};
        alpha[i] = static_cast<uint8_t>(255 - i * 5);
    }
    if (paletteSize > 0) {
        png_set_PLTE(png, info, palette.data(), paletteSize);
        png_set_tRNS(png, info, alpha.data(), paletteSize, nullptr);
    }
    png_write_info(png, info);
    const int channels = colorType == PNG_COLOR_TYPE_RGB         ? 3
                         : colorType == PNG_COLOR_TYPE_RGB_ALPHA ? 4
                         : colorType == PNG_COLOR_TYPE_GRAY_ALPHA ? 2
                                                                   : 1;
    Bytes rows = PngRows(width, height, channels, bitDepth);
    if (paletteSize > 0) {
        for (uint8_t& b : rows) b = static_cast<uint8_t>(b % (bitDepth == 8 ? paletteSize : 1 << bitDepth));
    }
    std::vector<png_bytep> rowPointers;
    for (int y = 0; y < height; ++y) rowPointers.push_back(rows.data() + rows.size() / height * y);
    png_write_image(png, rowPointers.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

struct JpegOptions {
    int width = 16, height = 16;
    bool gray = false;
    bool progressive = false;
    bool subsampled = false;  // 4:2:0
    int restartRows = 0;
    int quality = 75;
};

Bytes EncodeJpeg(const JpegOptions& o) {
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr errors{};
    cinfo.err = jpeg_std_error(&errors);
    jpeg_create_compress(&cinfo);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = static_cast<JDIMENSION>(o.width);
    cinfo.image_height = static_cast<JDIMENSION>(o.height);
    cinfo.input_components = o.gray ? 1 : 3;
    cinfo.in_color_space = o.gray ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, o.quality, TRUE);
    if (o.progressive) jpeg_simple_progression(&cinfo);
    if (!o.gray && !o.subsampled) {
        for (int c = 0; c < 3; ++c) cinfo.comp_info[c].h_samp_factor = cinfo.comp_info[c].v_samp_factor = 1;
    }
    cinfo.restart_in_rows = o.restartRows;
    jpeg_start_compress(&cinfo, TRUE);
    const int channels = o.gray ? 1 : 3;
    Bytes row(static_cast<size_t>(o.width) * channels);
    while (cinfo.next_scanline < cinfo.image_height) {
        for (size_t i = 0; i < row.size(); ++i) row[i] = static_cast<uint8_t>(i * 13 + cinfo.next_scanline * 29);
        JSAMPROW rowPointer = row.data();
        jpeg_write_scanlines(&cinfo, &rowPointer, 1);
    }
    jpeg_finish_compress(&cinfo);
    Bytes out(buffer, buffer + size);
    jpeg_destroy_compress(&cinfo);
    std::free(buffer);
    return out;
}

void PutLe(Bytes* out, size_t at, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) (*out)[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

// File header, an info header of infoSize bytes, a palette of paletteSize entries, then rows
// of a pattern (each padded to four bytes).
Bytes BuildBmp(int width, int height, int bitCount, int paletteSize, uint32_t infoSize = 40, uint32_t compression = 0) {
    const size_t offset = 14 + infoSize + static_cast<size_t>(paletteSize) * 4;
    const size_t rowBytes = (static_cast<size_t>(width) * bitCount + 31) / 32 * 4;
    Bytes out(offset + rowBytes * static_cast<size_t>(height < 0 ? -height : height), 0);
    out[0] = 'B';
    out[1] = 'M';
    PutLe(&out, 2, static_cast<uint32_t>(out.size()), 4);
    PutLe(&out, 10, static_cast<uint32_t>(offset), 4);
    PutLe(&out, 14, infoSize, 4);
    PutLe(&out, 18, static_cast<uint32_t>(width), 4);
    PutLe(&out, 22, static_cast<uint32_t>(height), 4);
    PutLe(&out, 26, 1, 2);
    PutLe(&out, 28, static_cast<uint32_t>(bitCount), 2);
    PutLe(&out, 30, compression, 4);
    PutLe(&out, 46, static_cast<uint32_t>(paletteSize), 4);
    for (int i = 0; i < paletteSize; ++i) PutLe(&out, 14 + infoSize + i * 4, 0x00102030u * (i + 1), 3);
    for (size_t i = offset; i < out.size(); ++i) out[i] = static_cast<uint8_t>(i * 7);
    return out;
}

void AddPictures(std::vector<Seed>* seeds) {
    struct PngCase {
        const char* name;
        int colorType, bitDepth;
        bool interlaced;
        int paletteSize;
    } pngs[] = {
        {"gray1", PNG_COLOR_TYPE_GRAY, 1, false, 0},        {"gray4", PNG_COLOR_TYPE_GRAY, 4, false, 0},
        {"gray16", PNG_COLOR_TYPE_GRAY, 16, false, 0},      {"gray_alpha", PNG_COLOR_TYPE_GRAY_ALPHA, 8, false, 0},
        {"rgb8", PNG_COLOR_TYPE_RGB, 8, false, 0},          {"rgb16_interlaced", PNG_COLOR_TYPE_RGB, 16, true, 0},
        {"rgba8", PNG_COLOR_TYPE_RGB_ALPHA, 8, false, 0},   {"palette2_trns", PNG_COLOR_TYPE_PALETTE, 2, false, 4},
        {"palette8_trns", PNG_COLOR_TYPE_PALETTE, 8, true, 200},
    };
    for (const PngCase& c : pngs) {
        seeds->push_back({"png", std::string(c.name) + ".png",
                          EncodePng(7, 5, c.colorType, c.bitDepth, c.interlaced, c.paletteSize)});
    }
    JpegOptions baseline;
    JpegOptions gray;
    gray.gray = true;
    JpegOptions progressive;
    progressive.progressive = true;
    progressive.width = 17;
    progressive.height = 9;
    JpegOptions subsampled;
    subsampled.subsampled = true;
    subsampled.restartRows = 1;
    subsampled.width = 33;
    subsampled.quality = 30;
    for (const auto& [name, options] : {std::pair<const char*, JpegOptions>{"baseline", baseline}, {"gray", gray},
                                        {"progressive", progressive}, {"subsampled_restarts", subsampled}}) {
        seeds->push_back({"jpeg", std::string(name) + ".jpg", EncodeJpeg(options)});
    }
    struct BmpCase {
        const char* name;
        int width, height, bitCount, paletteSize;
        uint32_t infoSize, compression;
    } bmps[] = {
        {"mono", 9, 3, 1, 2, 40, 0},          {"4bit", 5, 3, 4, 16, 40, 0},    {"8bit_top_down", 3, -2, 8, 4, 40, 0},
        {"24bit", 3, 2, 24, 0, 40, 0},        {"32bit_v4", 2, 2, 32, 0, 108, 0}, {"24bit_v5", 2, 1, 24, 0, 124, 0},
        {"rle8", 4, 2, 8, 2, 40, 1},          {"16bit_bitfields", 2, 2, 16, 0, 40, 3},
    };
    for (const BmpCase& c : bmps) {
        seeds->push_back({"bmp", std::string(c.name) + ".bmp",
                          BuildBmp(c.width, c.height, c.bitCount, c.paletteSize, c.infoSize, c.compression)});
    }
}

std::string Utf16Le(const std::string& ascii) {
    std::string out = "\xff\xfe";
    for (char c : ascii) {
        out += c;
        out += '\0';
    }
    return out;
}

void AddTexts(std::vector<Seed>* seeds) {
    const std::string share = "[HKEY_CURRENT_USER\\Software\\szDomain\\Share]\r\n";
    const std::string hives[] = {
        "REGEDIT4\r\n\r\n" + share + "\"Path\"=\"C:\\\\App \\\"quoted\\\"\"\r\n@=\"default\"\r\n" +
            "\"Number\"=dword:0000001f\r\n\"Binary\"=hex:01,02,ff\r\n\"Expand\"=hex(2):25,41,25,00\r\n" +
            "\"Long\"=hex:01,02,\\\r\n  03,04\r\n\"Gone\"=\"x\"\r\n\"Gone\"=-\r\n; comment\r\n",
        "REGEDIT4\r\n[HKEY_CURRENT_USER\\Software\\A]\r\n\"a\"=\"1\"\r\n[HKEY_CURRENT_USER\\Software\\A\\B]\r\n" +
            std::string("\"b\"=hex(7):6f,6e,65,00,00\r\n[-HKEY_CURRENT_USER\\Software\\A]\r\n[HKCU\\software\\a]\r\n"),
        Utf16Le("Windows Registry Editor Version 5.00\r\n\r\n" + share +
                "\"Path\"=\"/opt/app\"\r\n\"E\"=hex(2):25,00,41,00,25,00,00,00\r\n"),
        "REGEDIT4\r" + share.substr(0, share.size() - 2) + "\r\"Path\"=\"/opt/app\"\r",
        "\xef\xbb\xbfWindows Registry Editor Version 5.00\n[\\-HKEY_CURRENT_USER\\Software]\n\"x\"=\"y\"\n",
    };
    int n = 0;
    for (const std::string& hive : hives) seeds->push_back({"hive", "hive" + std::to_string(++n) + ".reg", FromText(hive)});

    const std::string profiles[] = {
        "; settings\r\n[SYSTEM]\r\nLASTDELETETIME=2004/03/07 09:05:00\r\n  Spaced Key  =  spaced  \r\n"
        "Quoted=\"  inside  \"\r\nSingle='single'\r\nEmpty=\r\nTwice=1\r\ntwice=2\r\nNoEquals\r\n",
        "[Other]\nKey=LF only\n[ Padded ]\r\nKey = padded\r\nNumber=0x1F\r\nNegative=-42\r\n[Empty]\r\n",
        "Key=before any section\r\n[SYSTEM\r\n[]\r\n=no name\r\n",
    };
    n = 0;
    for (const std::string& profile : profiles) {
        seeds->push_back({"profile", "profile" + std::to_string(++n) + ".ini", FromText(profile)});
    }

    const std::string base64[] = {"aHR0cDovLyVzL2NfYXZhdGFyLyVz", "YQ==", "YWI=", "YWJj", "=x==", "a!b", "YW"};
    n = 0;
    for (const std::string& text : base64) seeds->push_back({"base64", "base64_" + std::to_string(++n), FromText(text)});

    std::string table;
    for (int i = 0; i < 30; ++i) table += i % 7 == 0 ? " -012" : "00001";
    const std::string versions[] = {std::string("\x01\x02\x00\x05", 4) + table,
                                    std::string("\x02\x09\x12\x34", 4) + table.substr(0, 77),
                                    std::string("\x00\x00\xff\xff", 4) + "+0004  99x" + table};
    n = 0;
    for (const std::string& text : versions) seeds->push_back({"version", "version" + std::to_string(++n), FromText(text)});
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
            std::fprintf(stderr, "cannot write %s/%s/%s\n", argv[1], seed.folder.c_str(), seed.name.c_str());
            return 1;
        }
    }
    return 0;
}
