// AfxMessageBox and its replaceable sink.
#include <cstdio>
#include <memory>
#include <mutex>

#include "afxmsgbox.h"
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

}  // namespace

MessageBoxSink SetMessageBoxSink(MessageBoxSink sink) {
    std::shared_ptr<const MessageBoxSink> replaced;
    {
        std::lock_guard<std::mutex> guard(Slot().lock);
        replaced = std::move(Slot().sink);
        if (sink) Slot().sink = std::make_shared<const MessageBoxSink>(std::move(sink));
    }
    return replaced ? *replaced : MessageBoxSink(WriteToStandardError);
}

void ResetMessageBoxSink() {
    SetMessageBoxSink(nullptr);
}

}  // namespace platform

int AfxMessageBox(LPCTSTR text, UINT type, UINT helpId) {
    const auto sink = platform::CurrentSink();
    return sink ? (*sink)(text, type, helpId) : platform::WriteToStandardError(text, type, helpId);
}
