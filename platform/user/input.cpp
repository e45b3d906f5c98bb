// Mouse input injected at a screen point.
#include "platform/input.h"

#include "user/user_state.h"

namespace platform {

BOOL InjectMouse(POINT screenPoint, UINT message, WPARAM keyFlags) {
    if (message < WM_MOUSEFIRST || message > WM_MOUSELAST) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    user::State& state = user::GetState();
    {
        std::lock_guard<std::mutex> lock(state.lock);
        state.cursor = screenPoint;
    }
    HWND target = WindowFromPoint(screenPoint);
    if (!target) return FALSE;
    POINT client = screenPoint;
    if (!ScreenToClient(target, &client)) return FALSE;
    return PostMessageA(target, message, keyFlags, MAKELPARAM(client.x, client.y));
}

}  // namespace platform
