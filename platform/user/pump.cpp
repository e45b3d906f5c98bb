// Message pumps for hosts and tests.
#include "platform/pump.h"

#include <algorithm>

#include "user/user_state.h"

namespace platform {
namespace {

// A window procedure that never validates its update region gets WM_PAINT for ever, as on the
// original platform; this bounds what one call of PumpPendingMessages can do about it.
constexpr int kMaxPendingMessages = 10000;

// A condition often depends on other threads (a file that a download writes, a server's
// count), which post nothing to this queue; so the pump wakes at least this often to look.
constexpr std::chrono::milliseconds kConditionRecheck{10};

}  // namespace

bool PumpMessagesUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    auto deadline = user::Clock::now() + timeout;
    for (;;) {
        if (done()) return true;
        auto now = user::Clock::now();
        if (now >= deadline) return done();
        MSG msg;
        int result = user::GetMessageUntil(&msg, std::min(deadline, now + kConditionRecheck));
        if (result < 0) continue;
        if (result == 2) continue;
        if (result == 0) {
            PostQuitMessage(static_cast<int>(msg.wParam));
            return done();
        }
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

int PumpPendingMessages() {
    int count = 0;
    MSG msg;
    while (count < kMaxPendingMessages && PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(msg.wParam));
            break;
        }
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
        ++count;
    }
    return count;
}

}  // namespace platform
