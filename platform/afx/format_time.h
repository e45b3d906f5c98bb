// strftime into a CString, for CTime and COleDateTime. Private to the layer.
#pragma once

#include <ctime>
#include <vector>

#include "afxstr.h"

namespace platform {

inline CString FormatTm(const struct tm& tm, LPCTSTR format) {
    if (format == nullptr || *format == '\0') return CString();
    // strftime gives 0 both for "too small" and for an empty result; grow a few times, then
    // take the empty result as what the format asked for.
    std::vector<char> buffer(128);
    for (int attempt = 0; attempt < 6; ++attempt) {
        const size_t length = strftime(buffer.data(), buffer.size(), format, &tm);
        if (length > 0) return CString(buffer.data(), static_cast<int>(length));
        buffer.resize(buffer.size() * 4);
    }
    return CString();
}

}  // namespace platform
