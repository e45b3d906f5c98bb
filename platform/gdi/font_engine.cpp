#include "gdi/font_engine.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_SYNTHESIS_H
#include FT_TRUETYPE_TABLES_H

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <tuple>

namespace platform_gdi {

namespace {

constexpr char kDefaultFontDir[] = "/usr/share/fonts/truetype/dejavu";
constexpr char kFontDirVariable[] = "PORTRIX_FONT_DIR";
constexpr int kDefaultCellHeight = 16;  // what lfHeight 0 asks for
constexpr int kMaxEmPixels = 1024;      // bigger requests are drawn at this size
constexpr size_t kGlyphCacheBytes = size_t{16} << 20;

// 26.6 fixed point, as FreeType measures, to whole pixels.
int RoundPixels(FT_Pos value) {
    return static_cast<int>((value + 32) >> 6);
}
int CeilPixels(FT_Pos value) {
    return static_cast<int>((value + 63) >> 6);
}

enum class Family { Sans, Serif, Mono };

std::string LowerFaceName(const LOGFONTA& font) {
    std::string face(font.lfFaceName, strnlen(font.lfFaceName, LF_FACESIZE));
    for (char& c : face) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return face;
}

Family FamilyFor(const LOGFONTA& font) {
    static const char* const kMonoWords[] = {"mono",  "courier",  "consol",
                                             "fixed", "terminal", "typewriter"};
    static const char* const kSerifWords[] = {"serif",    "times",    "roman",   "georgia",
                                              "garamond", "palatino", "cambria", "book"};
    const std::string face = LowerFaceName(font);
    auto mentions = [&face](const char* word) { return face.find(word) != std::string::npos; };
    if (std::any_of(std::begin(kMonoWords), std::end(kMonoWords), mentions)) return Family::Mono;
    if (mentions("sans")) return Family::Sans;
    if (std::any_of(std::begin(kSerifWords), std::end(kSerifWords), mentions)) return Family::Serif;
    const int pitch = font.lfPitchAndFamily & 0x03;
    const int family = font.lfPitchAndFamily & 0xF0;
    if (pitch == FIXED_PITCH || family == FF_MODERN) return Family::Mono;
    if (family == FF_ROMAN) return Family::Serif;
    return Family::Sans;
}

std::string FontPath(const LOGFONTA& font) {
    const char* dir = std::getenv(kFontDirVariable);
    return std::string(dir != nullptr && *dir != '\0' ? dir : kDefaultFontDir) + "/" +
           FontFileFor(font);
}

// Windows-1252 to Unicode; the five codes it leaves undefined stand for themselves.
FT_ULong FromAnsi(unsigned char c) {
    static const uint16_t k80To9F[32] = {
        0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
    return c >= 0x80 && c < 0xA0 ? k80To9F[c - 0x80] : c;
}

// A bar from a position and thickness in font units (y up from the baseline).
Bar BarAt(FT_Face face, FT_Short position, FT_Short thickness, int width) {
    const FT_Fixed scale = face->size->metrics.y_scale;
    Bar bar;
    bar.height = std::max(1, RoundPixels(FT_MulFix(thickness, scale)));
    bar.top = -RoundPixels(FT_MulFix(position, scale)) - bar.height / 2;
    bar.width = width;
    return bar;
}

Bar UnderlineBar(const FontMetrics& metrics, int width) {
    return Bar{0, metrics.underlineTop, width, metrics.underlineHeight};
}

// A font set to its pixel size, valid while the engine's lock is held.
struct Realised {
    FT_Face face = nullptr;
    int em = 0;
    bool italic = false;
    FontMetrics metrics;
};

struct CachedGlyph {
    std::shared_ptr<const GlyphBitmap> bitmap;
    int left = 0;
    int top = 0;
    int advance = 0;
};

class Engine {
public:
    static Engine& Get() {
        // Never destroyed: a thread may still draw text while the process exits.
        static Engine* engine = new Engine;
        return *engine;
    }

    std::mutex mutex;

    bool Realise(const LOGFONTA& font, Realised* out);
    const CachedGlyph& Glyph(const Realised& font, FT_UInt index);

private:
    FT_Face Face(const std::string& path);

    FT_Library library_ = nullptr;
    std::map<std::string, FT_Face> faces_;  // failures are not kept: the file may appear later
    std::map<std::tuple<FT_Face, int, bool, FT_UInt>, CachedGlyph> glyphs_;
    size_t glyphBytes_ = 0;
};

FT_Face Engine::Face(const std::string& path) {
    if (library_ == nullptr && FT_Init_FreeType(&library_) != 0) {
        library_ = nullptr;
        return nullptr;
    }
    auto found = faces_.find(path);
    if (found != faces_.end()) return found->second;
    FT_Face face = nullptr;
    if (FT_New_Face(library_, path.c_str(), 0, &face) != 0) return nullptr;
    if (!FT_IS_SCALABLE(face)) {
        FT_Done_Face(face);
        return nullptr;
    }
    faces_.emplace(path, face);
    return face;
}

int EmPixelsFor(FT_Face face, LONG height) {
    int64_t em;
    if (height < 0) {
        em = -int64_t{height};
    } else {
        // A cell height: the em that makes ascent plus descent that tall.
        const int64_t cell = height == 0 ? kDefaultCellHeight : height;
        const int64_t unitsPerCell = std::max<int64_t>(1, face->ascender - face->descender);
        em = (cell * face->units_per_EM + unitsPerCell / 2) / unitsPerCell;
    }
    return static_cast<int>(std::clamp<int64_t>(em, 1, kMaxEmPixels));
}

bool Engine::Realise(const LOGFONTA& font, Realised* out) {
    FT_Face face = Face(FontPath(font));
    if (face == nullptr) return false;
    const int em = EmPixelsFor(face, font.lfHeight);
    if (FT_Set_Pixel_Sizes(face, 0, static_cast<FT_UInt>(em)) != 0) return false;
    const FT_Size_Metrics& size = face->size->metrics;
    FontMetrics& m = out->metrics;
    m = FontMetrics{};
    m.ascent = CeilPixels(size.ascender);
    m.descent = CeilPixels(-size.descender);
    m.emPixels = em;
    m.externalLeading = std::max(0, CeilPixels(size.height) - m.height());
    const auto* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
    m.aveCharWidth =
        os2 != nullptr && os2->xAvgCharWidth > 0
            ? static_cast<int>((int64_t{os2->xAvgCharWidth} * em + face->units_per_EM / 2) /
                               face->units_per_EM)
            : em / 2;
    m.maxCharWidth = CeilPixels(size.max_advance);
    m.fixedPitch = FT_IS_FIXED_WIDTH(face);
    const Bar underline = BarAt(face, face->underline_position, face->underline_thickness, 0);
    // At least one pixel below the baseline, and inside the cell.
    m.underlineHeight = std::min(underline.height, std::max(1, m.descent - 1));
    m.underlineTop = std::clamp(underline.top, 1, std::max(1, m.descent - m.underlineHeight));
    out->face = face;
    out->em = em;
    out->italic = font.lfItalic != 0;
    return true;
}

const CachedGlyph& Engine::Glyph(const Realised& font, FT_UInt index) {
    const auto key = std::make_tuple(font.face, font.em, font.italic, index);
    auto found = glyphs_.find(key);
    if (found != glyphs_.end()) return found->second;

    CachedGlyph glyph;
    auto bitmap = std::make_shared<GlyphBitmap>();
    FT_GlyphSlot slot = font.face->glyph;
    if (FT_Load_Glyph(font.face, index, FT_LOAD_DEFAULT) == 0) {
        if (font.italic) FT_GlyphSlot_Oblique(slot);
        glyph.advance = RoundPixels(slot->advance.x);
        if (FT_Render_Glyph(slot, FT_RENDER_MODE_NORMAL) == 0 &&
            slot->bitmap.pixel_mode == FT_PIXEL_MODE_GRAY) {
            const FT_Bitmap& source = slot->bitmap;
            bitmap->width = static_cast<int>(source.width);
            bitmap->rows = static_cast<int>(source.rows);
            bitmap->coverage.resize(static_cast<size_t>(bitmap->width) * bitmap->rows);
            for (int row = 0; row < bitmap->rows; ++row) {
                // A negative pitch stores the rows bottom up.
                const unsigned char* line =
                    source.pitch >= 0 ? source.buffer + row * source.pitch
                                      : source.buffer + (bitmap->rows - 1 - row) * -source.pitch;
                std::memcpy(&bitmap->coverage[static_cast<size_t>(row) * bitmap->width], line,
                            static_cast<size_t>(bitmap->width));
            }
            glyph.left = slot->bitmap_left;
            glyph.top = -slot->bitmap_top;
        }
    }
    glyph.bitmap = std::move(bitmap);
    if (glyphBytes_ > kGlyphCacheBytes) {
        // Runs in flight keep their glyphs through the shared pointers.
        glyphs_.clear();
        glyphBytes_ = 0;
    }
    glyphBytes_ += glyph.bitmap->coverage.size() + sizeof(CachedGlyph);
    return glyphs_.emplace(key, std::move(glyph)).first->second;
}

// Calls visit(i, pen, glyph) for each character of text, pen being where its glyph starts;
// returns where the pen ends.
template <class Visit>
int Walk(Engine& engine, const Realised& font, std::string_view text, Visit visit) {
    int pen = 0;
    FT_UInt previous = 0;
    const bool kerning = FT_HAS_KERNING(font.face);
    for (size_t i = 0; i < text.size(); ++i) {
        const FT_UInt index =
            FT_Get_Char_Index(font.face, FromAnsi(static_cast<unsigned char>(text[i])));
        FT_Vector delta{0, 0};
        if (kerning && previous != 0 && index != 0 &&
            FT_Get_Kerning(font.face, previous, index, FT_KERNING_DEFAULT, &delta) == 0) {
            pen += RoundPixels(delta.x);
        }
        const CachedGlyph& glyph = engine.Glyph(font, index);
        visit(i, pen, glyph);
        pen += glyph.advance;
        previous = index;
    }
    return pen;
}

}  // namespace

const char* FontFileFor(const LOGFONTA& font) {
    const bool bold = font.lfWeight >= FW_SEMIBOLD;
    switch (FamilyFor(font)) {
        case Family::Mono:
            return bold ? "DejaVuSansMono-Bold.ttf" : "DejaVuSansMono.ttf";
        case Family::Serif:
            return bold ? "DejaVuSerif-Bold.ttf" : "DejaVuSerif.ttf";
        case Family::Sans:
            break;
    }
    return bold ? "DejaVuSans-Bold.ttf" : "DejaVuSans.ttf";
}

bool RealiseMetrics(const LOGFONTA& font, FontMetrics* metrics) {
    Engine& engine = Engine::Get();
    std::lock_guard<std::mutex> lock(engine.mutex);
    Realised realised;
    if (!engine.Realise(font, &realised)) return false;
    *metrics = realised.metrics;
    return true;
}

bool MeasureText(const LOGFONTA& font, std::string_view text, std::vector<int>* positions) {
    Engine& engine = Engine::Get();
    std::lock_guard<std::mutex> lock(engine.mutex);
    Realised realised;
    if (!engine.Realise(font, &realised)) return false;
    positions->assign(text.size(), 0);
    Walk(engine, realised, text, [positions](size_t i, int pen, const CachedGlyph& glyph) {
        (*positions)[i] = pen + glyph.advance;
    });
    return true;
}

bool LayOutRun(const LOGFONTA& font, std::string_view text, GlyphRun* run) {
    Engine& engine = Engine::Get();
    std::lock_guard<std::mutex> lock(engine.mutex);
    Realised realised;
    if (!engine.Realise(font, &realised)) return false;
    run->metrics = realised.metrics;
    run->glyphs.clear();
    run->bars.clear();
    run->advance = Walk(engine, realised, text, [run](size_t, int pen, const CachedGlyph& glyph) {
        if (glyph.bitmap->coverage.empty()) return;
        run->glyphs.push_back(PlacedGlyph{glyph.bitmap, pen + glyph.left, glyph.top});
    });
    FT_Face face = realised.face;
    if (font.lfUnderline) run->bars.push_back(UnderlineBar(run->metrics, run->advance));
    if (font.lfStrikeOut) {
        const auto* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
        const FT_Short position = os2 != nullptr ? os2->yStrikeoutPosition : face->units_per_EM / 4;
        const FT_Short size = os2 != nullptr ? os2->yStrikeoutSize : face->underline_thickness;
        run->bars.push_back(BarAt(face, position, size, run->advance));
    }
    return true;
}

}  // namespace platform_gdi
