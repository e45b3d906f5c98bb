// Small Win32 helpers of the library's Windows side: an owned handle, UTF-16 paths and the text
// of an error code for the log.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace nimbrel {

class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(HANDLE handle) : m_handle(handle) {}
    ~UniqueHandle() { Reset(); }
    UniqueHandle(UniqueHandle&& other) noexcept : m_handle(other.Release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) Reset(other.Release());
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;

    HANDLE Get() const { return m_handle; }
    explicit operator bool() const { return m_handle != INVALID_HANDLE_VALUE; }
    HANDLE Release() {
        const HANDLE handle = m_handle;
        m_handle = INVALID_HANDLE_VALUE;
        return handle;
    }
    void Reset(HANDLE handle = INVALID_HANDLE_VALUE) {
        if (m_handle != INVALID_HANDLE_VALUE) ::CloseHandle(m_handle);
        m_handle = handle;
    }

private:
    HANDLE m_handle = INVALID_HANDLE_VALUE;
};

// The ANSI code page's text as UTF-16, as the control's CStrings hold it.
std::wstring Widen(std::string_view text);
// UTF-16 header text back to bytes; anything outside ASCII becomes '?', which no validator
// may hold.
std::string NarrowAscii(std::wstring_view text);
// The system's wording of a Win32 or WinHTTP error code.
std::string ErrorText(DWORD error);

}  // namespace nimbrel
