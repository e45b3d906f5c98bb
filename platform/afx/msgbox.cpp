// AfxMessageBox, MessageBoxA and the replaceable sink: an installed sink takes every box; without
// one a box is shown on the display when there is one, and written to standard error otherwise.
#include <errno.h>

#include <cstdio>
#include <memory>
#include <mutex>

#include "afxmsgbox.h"
#include "internal/display.h"
#include "platform/msgbox.h"

namespace platform {
namespace {

int WriteToStandardError(LPCTSTR text, UINT, UINT) {
    std::fprintf(stderr, "%s\n", text ? text : "");
    std::fflush(stderr);
    return IDOK;
}

struct SinkSlot {
    std::mutex lock;
    // Held by shared_ptr so that a box being shown keeps its sink while another is installed.
    std::shared_ptr<const MessageBoxSink> sink;
};

SinkSlot& Slot() {
    static SinkSlot* slot = new SinkSlot;  // never destroyed: a box may come during exit
    return *slot;
}

std::shared_ptr<const MessageBoxSink> CurrentSink() {
    std::lock_guard<std::mutex> guard(Slot().lock);
    return Slot().sink;
}

int ShowBox(LPCSTR text, LPCSTR caption, UINT type, UINT helpId) {
    if (const auto sink = CurrentSink()) return (*sink)(text, type, helpId);
    if (int pressed = platform::internal::DisplayMessageBox(text, caption, type)) return pressed;
    return WriteToStandardError(text, type, helpId);
}

}  // namespace

MessageBoxSink SetMessageBoxSink(MessageBoxSink sink) {
    std::shared_ptr<const MessageBoxSink> replaced;
    {
        std::lock_guard<std::mutex> guard(Slot().lock);
        replaced = std::move(Slot().sink);
        if (sink) Slot().sink = std::make_shared<const MessageBoxSink>(std::move(sink));
    }
    return replaced ? *replaced : MessageBoxSink();
}

void ResetMessageBoxSink() {
    SetMessageBoxSink(nullptr);
}

}  // namespace platform

int AfxMessageBox(LPCTSTR text, UINT type, UINT helpId) {
    // MFC captions the box with the application's name.
    return platform::ShowBox(text, program_invocation_short_name, type, helpId);
}

int MessageBoxA(HWND, LPCSTR text, LPCSTR caption, UINT type) {
    return platform::ShowBox(text, caption ? caption : "Error", type, 0);
}
