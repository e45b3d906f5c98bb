// The font engine behind GDI's text calls: maps a LOGFONTA to a DejaVu font file, realises it
// at a pixel size with FreeType, and turns ANSI strings into positioned grey-scale glyphs.
//
// It has a lock of its own and never takes GDI's: the text calls shape and render a string here
// first, then take GDI's lock only to blend the glyphs into the target.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "wingdi.h"

namespace platform_gdi {

// A realised font's measures in pixels, as TEXTMETRIC reports them.
struct FontMetrics {
    int ascent = 0;   // baseline to the cell's top
    int descent = 0;  // baseline to the cell's bottom
    int emPixels = 0;
    int externalLeading = 0;
    int aveCharWidth = 0;
    int maxCharWidth = 0;
    bool fixedPitch = false;
    int underlineTop = 0;  // below the baseline
    int underlineHeight = 1;

    int height() const { return ascent + descent; }
};

// One glyph's coverage, 0 (none) to 255 (full), rows top to bottom.
struct GlyphBitmap {
    int width = 0;
    int rows = 0;
    std::vector<uint8_t> coverage;
};

struct PlacedGlyph {
    std::shared_ptr<const GlyphBitmap> bitmap;
    int left = 0;  // the bitmap's top-left, relative to the pen's start on the baseline
    int top = 0;
};

// A horizontal bar of full coverage (underline, strike-out), relative to the pen's start on the
// baseline.
struct Bar {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
};

// A line of text laid out from a pen start on the baseline.
struct GlyphRun {
    FontMetrics metrics;
    int advance = 0;  // where the pen ends: the line's extent
    std::vector<PlacedGlyph> glyphs;
    std::vector<Bar> bars;
};

// The font file the mapper picks for a request, without its folder ("DejaVuSans-Bold.ttf").
const char* FontFileFor(const LOGFONTA& font);

// False when the font file cannot be opened.
bool RealiseMetrics(const LOGFONTA& font, FontMetrics* metrics);

// The pen position after each character of text (so the extent of text[0, i) is
// positions[i - 1]); false when the font file cannot be opened.
bool MeasureText(const LOGFONTA& font, std::string_view text, std::vector<int>* positions);

// The glyphs and bars of text, ready to blend; false when the font file cannot be opened or
// rendering failed.
bool LayOutRun(const LOGFONTA& font, std::string_view text, GlyphRun* run);

}  // namespace platform_gdi
