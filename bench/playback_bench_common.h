// Shared by the playback benchmarks: a control that counts the frames it puts on the screen, a
// visible dialog to hold controls, a host's message loop run for a while, and the process's
// CPU time and context switches. Include from one source file per program (it defines a
// message map).
#pragma once

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstring>

#include "picture_bench_common.h"

namespace playback_bench {

// Counts its paints. Each paint copies the newest rendered frame to the screen, and only a new
// frame's invalidation asks for one, so paints are the frames that actually reached the screen:
// frames rendered over before the host painted them are not counted.
class CountingPicture : public CAnimatedPicture {
public:
    long Paints() const { return paints_; }

protected:
    afx_msg void OnPaint() {
        CAnimatedPicture::OnPaint();
        ++paints_;
    }
    DECLARE_MESSAGE_MAP()

private:
    long paints_ = 0;  // the window's thread only
};

BEGIN_MESSAGE_MAP(CountingPicture, CAnimatedPicture)
ON_WM_PAINT()
END_MESSAGE_MAP()

// A shown top-level dialog, destroyed with its children on scope exit.
struct VisibleDialog {
    VisibleDialog(int width, int height)
        : hwnd(CreateWindowExA(0, WC_DIALOG, "bench", WS_POPUP | WS_VISIBLE, 0, 0, width, height,
                               nullptr, nullptr, nullptr, nullptr)) {}
    ~VisibleDialog() { DestroyWindow(hwnd); }
    VisibleDialog(const VisibleDialog&) = delete;
    VisibleDialog& operator=(const VisibleDialog&) = delete;

    HWND AddChild(int x, int y, int width, int height) const {
        return CreateWindowExA(0, WC_STATIC, "", WS_CHILD | WS_VISIBLE, x, y, width, height, hwnd,
                               nullptr, nullptr, nullptr);
    }

    HWND hwnd;
};

// The host's message loop, run on this thread for the given time; a window timer of the dialog
// ends it, so the loop sleeps whenever there is nothing to do.
inline void RunMessageLoop(HWND dialog, std::chrono::milliseconds duration) {
    constexpr UINT_PTR kEndTimer = 0xB1E;
    SetTimer(dialog, kEndTimer, static_cast<UINT>(duration.count()), nullptr);
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        if (msg.message == WM_TIMER && msg.hwnd == dialog && msg.wParam == kEndTimer) break;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    KillTimer(dialog, kEndTimer);
}

// What the whole process has used so far: CPU time of all its threads, context switches.
struct ProcessUsage {
    double cpuSeconds = 0;
    long contextSwitches = 0;

    static ProcessUsage Now() {
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec * 1e-6; };
        return {seconds(usage.ru_utime) + seconds(usage.ru_stime),
                usage.ru_nvcsw + usage.ru_nivcsw};
    }
    ProcessUsage operator-(const ProcessUsage& earlier) const {
        return {cpuSeconds - earlier.cpuSeconds, contextSwitches - earlier.contextSwitches};
    }
};

// A field of /proc/self/status in kB ("VmRSS", "VmSize"), or 0.
inline long StatusKb(const char* field) {
    std::FILE* status = std::fopen("/proc/self/status", "r");
    if (status == nullptr) return 0;
    char line[256];
    long kb = 0;
    const size_t length = std::strlen(field);
    while (std::fgets(line, sizeof line, status) != nullptr) {
        if (std::strncmp(line, field, length) == 0 && line[length] == ':') {
            kb = std::strtol(line + length + 1, nullptr, 10);
            break;
        }
    }
    std::fclose(status);
    return kb;
}

}  // namespace playback_bench
