// Text: fonts, the DC's text attributes, measuring, TextOut and DrawText.
//
// A call reads the DC's font and attributes under GDI's lock, lays the text out with the font
// engine (which has a lock of its own), and takes GDI's lock again to blend the glyphs into the
// target, so that rendering never holds up other threads' drawing.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string_view>
#include <utility>
#include <vector>

#include "gdi/font_engine.h"
#include "gdi/gdi_state.h"
#include "gdi/text_layout.h"
#include "wingdi.h"

using platform_gdi::Box;
using platform_gdi::DcObject;
using platform_gdi::FontMetrics;
using platform_gdi::FontObject;
using platform_gdi::GdiObject;
using platform_gdi::GlyphRun;
using platform_gdi::State;
using platform_gdi::Target;

namespace {

constexpr COLORREF kColorMask = 0x00FFFFFFu;
constexpr UINT kAlignMask = TA_UPDATECP | TA_CENTER | TA_BASELINE;

// What a text call needs of its DC, copied out under the lock.
struct TextState {
    LOGFONTA font{};
    COLORREF textColor = 0;
    COLORREF bkColor = 0;
    int bkMode = OPAQUE;
    UINT textAlign = 0;
};

bool ReadTextState(HDC hdc, TextState* out) {
    State& state = State::Get();
    std::lock_guard<std::mutex> lock(state.mutex);
    const DcObject* dc = state.Find<DcObject>(hdc);
    const FontObject* font = dc ? state.Find<FontObject>(dc->font) : nullptr;
    if (!font) return false;
    out->font = font->logfont;
    out->textColor = dc->textColor;
    out->bkColor = dc->bkColor;
    out->bkMode = dc->bkMode;
    out->textAlign = dc->textAlign;
    return true;
}

// Reads or changes one attribute of a DC under the lock; `fallback` for a handle that is not a DC.
template <class Value, class Access>
Value WithDC(HDC hdc, Value fallback, Access access) {
    State& state = State::Get();
    std::lock_guard<std::mutex> lock(state.mutex);
    DcObject* dc = state.Find<DcObject>(hdc);
    return dc ? access(*dc) : fallback;
}

// The byte count of a string argument: -1 means up to the NUL; false for anything else negative
// or for a null string with characters.
bool Length(LPCSTR text, int count, bool nulTerminatedAllowed, size_t* length) {
    if (count == -1 && nulTerminatedAllowed && text) {
        *length = std::strlen(text);
        return true;
    }
    if (count < 0 || (count > 0 && !text)) return false;
    *length = static_cast<size_t>(count);
    return true;
}

uint32_t Mix(uint32_t under, uint32_t over, unsigned coverage) {
    uint32_t result = 0;
    for (int shift = 0; shift <= 16; shift += 8) {
        const int d = static_cast<int>((under >> shift) & 0xFF);
        const int s = static_cast<int>((over >> shift) & 0xFF);
        const int mixed = d + ((s - d) * static_cast<int>(coverage) + (s > d ? 127 : -127)) / 255;
        result |= static_cast<uint32_t>(mixed) << shift;
    }
    return result;
}

// One laid-out line placed in DC coordinates: the pen's start on the baseline.
struct Placement {
    const GlyphRun* run;
    int64_t penX;
    int64_t baseline;
};

void FillBox(const Target& t, const Box& box, uint32_t pixel) {
    for (int64_t y = box.top; y < box.bottom; ++y) {
        std::fill(t.bits + y * t.stride + box.left, t.bits + y * t.stride + box.right, pixel);
    }
}

// Blends the lines into hdc's pixels, limited to `limit` (DC coordinates) when given.
BOOL Paint(HDC hdc, const std::vector<Placement>& lines, const TextState& text, const RECT* limit) {
    State& state = State::Get();
    platform_gdi::TableLock table(hdc);
    Target t;
    if (!state.Resolve(hdc, table.Geometry(hdc), &t)) return FALSE;
    if (!t.hasPixels) return TRUE;
    platform_gdi::PixelLocks drawing({&t});
    table.Release();
    Box clip = t.clip;
    if (limit) clip = clip.Intersect(Box::FromRect(*limit).Offset(t.originX, t.originY));
    const uint32_t ink = platform_gdi::PixelFromColor(text.textColor);
    for (const Placement& line : lines) {
        const GlyphRun& run = *line.run;
        const int64_t x = line.penX + t.originX;
        const int64_t y = line.baseline + t.originY;
        if (text.bkMode == OPAQUE) {
            const Box cell{x, y - run.metrics.ascent, x + run.advance, y + run.metrics.descent};
            FillBox(t, cell.Intersect(clip), platform_gdi::PixelFromColor(text.bkColor));
        }
        for (const platform_gdi::PlacedGlyph& glyph : run.glyphs) {
            const platform_gdi::GlyphBitmap& bitmap = *glyph.bitmap;
            const Box where =
                Box::FromExtent(x + glyph.left, y + glyph.top, bitmap.width, bitmap.rows);
            const Box visible = where.Intersect(clip);
            for (int64_t py = visible.top; py < visible.bottom; ++py) {
                const uint8_t* coverage =
                    &bitmap.coverage[static_cast<size_t>(py - where.top) * bitmap.width];
                uint32_t* row = t.bits + py * t.stride;
                for (int64_t px = visible.left; px < visible.right; ++px) {
                    const unsigned a = coverage[px - where.left];
                    if (a != 0) row[px] = a == 255 ? ink : Mix(row[px], ink, a);
                }
            }
        }
        for (const platform_gdi::Bar& bar : run.bars) {
            FillBox(
                t,
                Box::FromExtent(x + bar.left, y + bar.top, bar.width, bar.height).Intersect(clip),
                ink);
        }
    }
    return TRUE;
}

}  // namespace

HFONT CreateFontIndirectA(const LOGFONTA* lplf) {
    if (!lplf) return nullptr;
    FontObject font;
    font.logfont = *lplf;
    font.logfont.lfFaceName[LF_FACESIZE - 1] = '\0';
    State& state = State::Get();
    std::lock_guard<std::mutex> lock(state.mutex);
    return static_cast<HFONT>(state.Add(GdiObject{false, 0, font}));
}

HFONT CreateFontA(int cHeight, int cWidth, int cEscapement, int cOrientation, int cWeight,
                  DWORD bItalic, DWORD bUnderline, DWORD bStrikeOut, DWORD iCharSet,
                  DWORD iOutPrecision, DWORD iClipPrecision, DWORD iQuality, DWORD iPitchAndFamily,
                  LPCSTR pszFaceName) {
    LOGFONTA font{};
    font.lfHeight = cHeight;
    font.lfWidth = cWidth;
    font.lfEscapement = cEscapement;
    font.lfOrientation = cOrientation;
    font.lfWeight = cWeight;
    font.lfItalic = static_cast<BYTE>(bItalic != 0);
    font.lfUnderline = static_cast<BYTE>(bUnderline != 0);
    font.lfStrikeOut = static_cast<BYTE>(bStrikeOut != 0);
    font.lfCharSet = static_cast<BYTE>(iCharSet);
    font.lfOutPrecision = static_cast<BYTE>(iOutPrecision);
    font.lfClipPrecision = static_cast<BYTE>(iClipPrecision);
    font.lfQuality = static_cast<BYTE>(iQuality);
    font.lfPitchAndFamily = static_cast<BYTE>(iPitchAndFamily);
    if (pszFaceName) std::strncpy(font.lfFaceName, pszFaceName, LF_FACESIZE - 1);
    return CreateFontIndirectA(&font);
}

COLORREF SetTextColor(HDC hdc, COLORREF color) {
    return WithDC(hdc, CLR_INVALID, [color](DcObject& dc) {
        return std::exchange(dc.textColor, color & kColorMask);
    });
}

COLORREF GetTextColor(HDC hdc) {
    return WithDC(hdc, CLR_INVALID, [](DcObject& dc) { return dc.textColor; });
}

COLORREF SetBkColor(HDC hdc, COLORREF color) {
    return WithDC(hdc, CLR_INVALID,
                  [color](DcObject& dc) { return std::exchange(dc.bkColor, color & kColorMask); });
}

COLORREF GetBkColor(HDC hdc) {
    return WithDC(hdc, CLR_INVALID, [](DcObject& dc) { return dc.bkColor; });
}

int SetBkMode(HDC hdc, int mode) {
    if (mode != TRANSPARENT && mode != OPAQUE) return 0;
    return WithDC(hdc, 0, [mode](DcObject& dc) { return std::exchange(dc.bkMode, mode); });
}

int GetBkMode(HDC hdc) {
    return WithDC(hdc, 0, [](DcObject& dc) { return dc.bkMode; });
}

UINT SetTextAlign(HDC hdc, UINT align) {
    return WithDC(hdc, static_cast<UINT>(GDI_ERROR), [align](DcObject& dc) {
        return std::exchange(dc.textAlign, align & kAlignMask);
    });
}

UINT GetTextAlign(HDC hdc) {
    return WithDC(hdc, static_cast<UINT>(GDI_ERROR), [](DcObject& dc) { return dc.textAlign; });
}

BOOL GetTextMetricsA(HDC hdc, LPTEXTMETRICA lptm) {
    TextState text;
    FontMetrics m;
    if (!lptm || !ReadTextState(hdc, &text) || !platform_gdi::RealiseMetrics(text.font, &m))
        return FALSE;
    TEXTMETRICA tm{};
    tm.tmHeight = m.height();
    tm.tmAscent = m.ascent;
    tm.tmDescent = m.descent;
    tm.tmInternalLeading = std::max(0, m.height() - m.emPixels);
    tm.tmExternalLeading = m.externalLeading;
    tm.tmAveCharWidth = m.aveCharWidth;
    tm.tmMaxCharWidth = m.maxCharWidth;
    tm.tmWeight = text.font.lfWeight >= FW_SEMIBOLD ? FW_BOLD : FW_NORMAL;
    tm.tmDigitizedAspectX = tm.tmDigitizedAspectY = platform_gdi::kPixelsPerInch;
    tm.tmFirstChar = 0x20;
    tm.tmLastChar = 0xFF;
    tm.tmDefaultChar = 0x1F;
    tm.tmBreakChar = 0x20;
    tm.tmItalic = text.font.lfItalic ? 1 : 0;
    tm.tmUnderlined = text.font.lfUnderline ? 1 : 0;
    tm.tmStruckOut = text.font.lfStrikeOut ? 1 : 0;
    // The bit says "variable pitch", as on the original.
    tm.tmPitchAndFamily = static_cast<BYTE>((m.fixedPitch ? 0 : TMPF_FIXED_PITCH) | TMPF_VECTOR |
                                            TMPF_TRUETYPE | (text.font.lfPitchAndFamily & 0xF0));
    tm.tmCharSet = ANSI_CHARSET;
    *lptm = tm;
    return TRUE;
}

BOOL GetTextExtentPoint32A(HDC hdc, LPCSTR lpString, int c, LPSIZE psizl) {
    TextState text;
    size_t length = 0;
    if (!psizl || !Length(lpString, c, false, &length) || !ReadTextState(hdc, &text)) return FALSE;
    FontMetrics m;
    std::vector<int> positions;
    if (!platform_gdi::RealiseMetrics(text.font, &m) ||
        !platform_gdi::MeasureText(text.font, std::string_view(lpString ? lpString : "", length),
                                   &positions)) {
        return FALSE;
    }
    // No characters have no extent at all, not even a line's height, as on the original.
    psizl->cx = positions.empty() ? 0 : positions.back();
    psizl->cy = length == 0 ? 0 : m.height();
    return TRUE;
}

BOOL TextOutA(HDC hdc, int x, int y, LPCSTR lpString, int c) {
    TextState text;
    size_t length = 0;
    if (!Length(lpString, c, false, &length) || !ReadTextState(hdc, &text)) return FALSE;
    GlyphRun run;
    if (!platform_gdi::LayOutRun(text.font, std::string_view(lpString ? lpString : "", length),
                                 &run)) {
        return FALSE;
    }
    int64_t penX = x;
    if ((text.textAlign & TA_CENTER) == TA_CENTER) {
        penX -= run.advance / 2;
    } else if (text.textAlign & TA_RIGHT) {
        penX -= run.advance;
    }
    int64_t baseline = y + int64_t{run.metrics.ascent};
    if ((text.textAlign & TA_BASELINE) == TA_BASELINE) {
        baseline = y;
    } else if (text.textAlign & TA_BOTTOM) {
        baseline = y - int64_t{run.metrics.descent};
    }
    return Paint(hdc, {Placement{&run, penX, baseline}}, text, nullptr);
}

int DrawTextA(HDC hdc, LPCSTR lpchText, int cchText, LPRECT lprc, UINT format) {
    TextState text;
    size_t length = 0;
    FontMetrics m;
    if (!lprc || !Length(lpchText, cchText, true, &length) || !ReadTextState(hdc, &text) ||
        !platform_gdi::RealiseMetrics(text.font, &m)) {
        return 0;
    }
    const RECT rect = *lprc;
    const int64_t rectWidth = int64_t{rect.right} - rect.left;
    const int64_t rectHeight = int64_t{rect.bottom} - rect.top;
    const LOGFONTA font = text.font;
    std::vector<platform_gdi::TextLine> lines;
    auto measure = [&font](std::string_view s, std::vector<int>* positions) {
        return platform_gdi::MeasureText(font, s, positions);
    };
    if (!platform_gdi::LayOutLines(std::string_view(lpchText ? lpchText : "", length), format,
                                   static_cast<int>(std::clamp<int64_t>(rectWidth, 0, INT32_MAX)),
                                   measure, &lines)) {
        return 0;
    }
    const int lineHeight = m.height();
    const int height = lineHeight * static_cast<int>(lines.size());
    if (format & DT_CALCRECT) {
        int widest = 0;
        for (const platform_gdi::TextLine& line : lines) widest = std::max(widest, line.width);
        lprc->right = static_cast<LONG>(std::min<int64_t>(int64_t{rect.left} + widest, INT32_MAX));
        // No text measures as an empty rectangle, though it answers a line's height, as on the
        // original.
        lprc->bottom = static_cast<LONG>(
            std::min<int64_t>(int64_t{rect.top} + (length == 0 ? 0 : height), INT32_MAX));
        return height;
    }

    int64_t top = rect.top;  // of the first line
    if (format & DT_SINGLELINE) {
        if (format & DT_BOTTOM) {
            top = int64_t{rect.bottom} - lineHeight;
        } else if (format & DT_VCENTER) {
            top = rect.top + (rectHeight - lineHeight) / 2;
        }
    }
    std::vector<GlyphRun> runs(lines.size());
    std::vector<Placement> placements;
    for (size_t i = 0; i < lines.size(); ++i) {
        const platform_gdi::TextLine& line = lines[i];
        GlyphRun& run = runs[i];
        if (!platform_gdi::LayOutRun(font, line.text, &run)) return 0;
        if (line.marked >= 0) {
            std::vector<int> positions;
            if (!measure(line.text, &positions)) return 0;
            const int from = line.marked > 0 ? positions[line.marked - 1] : 0;
            run.bars.push_back(platform_gdi::Bar{from, m.underlineTop,
                                                 positions[line.marked] - from, m.underlineHeight});
        }
        int64_t x = rect.left;
        if (format & DT_CENTER) {
            x = rect.left + (rectWidth - run.advance) / 2;
        } else if (format & DT_RIGHT) {
            x = int64_t{rect.right} - run.advance;
        }
        placements.push_back(
            Placement{&run, x, top + lineHeight * static_cast<int64_t>(i) + m.ascent});
    }
    if (!Paint(hdc, placements, text, (format & DT_NOCLIP) ? nullptr : &rect)) return 0;
    if ((format & DT_SINGLELINE) && (format & (DT_VCENTER | DT_BOTTOM))) {
        return static_cast<int>(top - rect.top + lineHeight);
    }
    return height;
}
