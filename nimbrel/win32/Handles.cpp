#include "Handles.h"

#include <winhttp.h>

#include <cstdio>

namespace nimbrel {

std::wstring Widen(std::string_view text) {
    if (text.empty()) return L"";
    const int size = static_cast<int>(text.size());
    const int length = ::MultiByteToWideChar(CP_ACP, 0, text.data(), size, nullptr, 0);
    std::wstring wide(static_cast<size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, text.data(), size, wide.data(), length);
    return wide;
}

std::string NarrowAscii(std::wstring_view text) {
    std::string narrow;
    narrow.reserve(text.size());
    for (wchar_t ch : text) narrow += ch < 0x80 ? static_cast<char>(ch) : '?';
    return narrow;
}

std::string ErrorText(DWORD error) {
    // WinHTTP's codes are worded by its own module, the others by the system.
    const bool winhttp = error >= WINHTTP_ERROR_BASE && error <= WINHTTP_ERROR_LAST;
    const HMODULE source = winhttp ? ::GetModuleHandleW(L"winhttp.dll") : nullptr;
    char text[256] = {};
    const DWORD length =
        ::FormatMessageA((source ? FORMAT_MESSAGE_FROM_HMODULE : FORMAT_MESSAGE_FROM_SYSTEM) |
                             FORMAT_MESSAGE_IGNORE_INSERTS,
                         source, error, 0, text, sizeof text, nullptr);
    std::string message(text, length);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                                message.back() == '.' || message.back() == ' '))
        message.pop_back();
    char code[32];
    std::snprintf(code, sizeof code, "error %lu", static_cast<unsigned long>(error));
    return message.empty() ? code : message + " (" + code + ")";
}

}  // namespace nimbrel
