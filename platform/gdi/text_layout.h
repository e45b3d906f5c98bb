// DrawText's layout: prefix characters, line breaks, word wrapping and end ellipses. Widths come
// from a measuring function, so the layout knows nothing of fonts or pixels.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "wingdi.h"

namespace platform_gdi {

struct TextLine {
    std::string text;
    int marked = -1;  // index in text of the character a prefix '&' underlines, or -1
    int width = 0;
};

// The pen position after each character of a string (see MeasureText); false on failure.
using Measure = std::function<bool(std::string_view, std::vector<int>*)>;

// The lines DrawText shows for text in a rectangle `width` pixels wide under `format`
// (DT_SINGLELINE, DT_WORDBREAK, DT_NOPREFIX, DT_HIDEPREFIX, DT_END_ELLIPSIS); false when
// measuring failed.
bool LayOutLines(std::string_view text, UINT format, int width, const Measure& measure,
                 std::vector<TextLine>* lines);

}  // namespace platform_gdi
