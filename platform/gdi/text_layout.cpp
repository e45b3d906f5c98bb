#include "gdi/text_layout.h"

namespace platform_gdi {

namespace {

constexpr char kEllipsis[] = "...";

// "&x" marks x and drops the '&'; "&&" stands for one '&'; a '&' at the end is dropped.
TextLine StripPrefixes(std::string_view text, bool hideMark) {
    TextLine line;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '&') {
            line.text += text[i];
            continue;
        }
        if (i + 1 >= text.size()) break;
        if (text[i + 1] != '&' && !hideMark) line.marked = static_cast<int>(line.text.size());
        line.text += text[++i];
    }
    return line;
}

std::vector<std::string_view> SplitParagraphs(std::string_view text) {
    std::vector<std::string_view> paragraphs;
    size_t start = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\r' && text[i] != '\n') continue;
        paragraphs.push_back(text.substr(start, i - start));
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        start = i + 1;
    }
    paragraphs.push_back(text.substr(start));
    return paragraphs;
}

// The width of text[begin, end) from the pen positions of the whole text.
int Span(const std::vector<int>& positions, size_t begin, size_t end) {
    if (end <= begin) return 0;
    return positions[end - 1] - (begin > 0 ? positions[begin - 1] : 0);
}

bool IsSpace(char c) {
    return c == ' ' || c == '\t';
}

// Greedy word wrapping: a line ends at the last space before it grows wider than width; a word
// wider than the whole line stands on a line of its own and overflows it.
void Wrap(const TextLine& paragraph, const std::vector<int>& positions, int width,
          std::vector<TextLine>* lines) {
    const std::string& text = paragraph.text;
    size_t begin = 0;
    do {
        size_t end = begin;
        size_t lastFit = std::string::npos;  // end of the last word that fits
        while (end < text.size()) {
            size_t wordEnd = end;
            while (wordEnd < text.size() && IsSpace(text[wordEnd])) ++wordEnd;
            while (wordEnd < text.size() && !IsSpace(text[wordEnd])) ++wordEnd;
            if (lastFit != std::string::npos && Span(positions, begin, wordEnd) > width) break;
            lastFit = end = wordEnd;
        }
        TextLine line;
        line.text = text.substr(begin, end - begin);
        if (paragraph.marked >= static_cast<int>(begin) &&
            paragraph.marked < static_cast<int>(end)) {
            line.marked = paragraph.marked - static_cast<int>(begin);
        }
        lines->push_back(std::move(line));
        begin = end;
        while (begin < text.size() && IsSpace(text[begin])) ++begin;
    } while (begin < text.size());
}

// Shortens a line wider than width to the longest start that fits with "..." after it.
bool Ellipsize(TextLine* line, int width, const Measure& measure) {
    std::vector<int> positions;
    if (!measure(line->text + kEllipsis, &positions)) return false;
    const int ellipsis = Span(positions, line->text.size(), positions.size());
    size_t keep = line->text.size();
    while (keep > 0 && Span(positions, 0, keep) + ellipsis > width) --keep;
    line->text = line->text.substr(0, keep) + kEllipsis;
    if (line->marked >= static_cast<int>(keep)) line->marked = -1;
    return true;
}

}  // namespace

bool LayOutLines(std::string_view text, UINT format, int width, const Measure& measure,
                 std::vector<TextLine>* lines) {
    lines->clear();
    const bool prefixes = !(format & DT_NOPREFIX);
    const bool hideMark = (format & DT_HIDEPREFIX) != 0;
    std::vector<std::string_view> paragraphs;
    if (format & DT_SINGLELINE) {
        paragraphs.push_back(text);
    } else {
        paragraphs = SplitParagraphs(text);
    }
    for (std::string_view source : paragraphs) {
        TextLine paragraph =
            prefixes ? StripPrefixes(source, hideMark) : TextLine{std::string(source)};
        if ((format & DT_WORDBREAK) && !(format & DT_SINGLELINE)) {
            std::vector<int> positions;
            if (!measure(paragraph.text, &positions)) return false;
            Wrap(paragraph, positions, width, lines);
        } else {
            lines->push_back(std::move(paragraph));
        }
    }
    for (TextLine& line : *lines) {
        std::vector<int> positions;
        if (!measure(line.text, &positions)) return false;
        line.width = positions.empty() ? 0 : positions.back();
        if ((format & DT_END_ELLIPSIS) && line.width > width) {
            if (!Ellipsize(&line, width, measure) || !measure(line.text, &positions)) return false;
            line.width = positions.empty() ? 0 : positions.back();
        }
    }
    return true;
}

}  // namespace platform_gdi
