// Message pumps for hosts and tests.
#include "platform/pump.h"

#include "user/user_state.h"

namespace platform {
namespace {

// A window procedure that never validates its update region gets WM_PAINT for ever, as on the
// original platform; this bounds what one call of PumpPendingMessages can do about it.
constexpr int kMaxPendingMessages = 10000;

}  // namespace

bool PumpMessagesUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    auto deadline = user::Clock::now() + timeout;
    for (;;) {
        if (done()) return true;
        MSG msg;
        int result = user::GetMessageUntil(&msg, deadline);
        if (result < 0) return done();
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
