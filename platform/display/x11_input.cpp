// The server's events on the real windows, as window messages of the layer: exposures repaint
// from the framebuffer, the mouse and the keyboard are posted to the window under the pointer
// or the top-level window with the focus, the window manager's close becomes WM_CLOSE, and its
// moves, minimising and restoring are followed.
#include <cstdlib>
#include <cstring>

#include "display/x11_display.h"
#include "internal/display.h"
#include "windows.h"

namespace platform_display {
namespace {

constexpr uint8_t kEventTypeMask = 0x7F;  // the top bit marks an event sent by a client
constexpr uint8_t kButtonLeft = 1, kButtonMiddle = 2, kButtonRight = 3;
// A second press counts as a double click this close to the first (SM_CXDOUBLECLK / 2).
constexpr LONG kDoubleClickSlop = 2;
constexpr LPARAM kKeyUpFlags = (LPARAM{1} << 30) | (LPARAM{1} << 31);  // previous state, release
constexpr uint8_t kFirstScanCode = 8;  // X keycodes are the PC scan codes plus 8

// Keysyms of the keys that are not printable Latin-1.
constexpr uint32_t kKeysymBackSpace = 0xFF08, kKeysymTab = 0xFF09, kKeysymReturn = 0xFF0D,
                   kKeysymEscape = 0xFF1B, kKeysymLeft = 0xFF51, kKeysymUp = 0xFF52,
                   kKeysymRight = 0xFF53, kKeysymDown = 0xFF54, kKeysymKeypadEnter = 0xFF8D,
                   kKeysymShiftL = 0xFFE1, kKeysymShiftR = 0xFFE2, kKeysymControlL = 0xFFE3,
                   kKeysymControlR = 0xFFE4;

struct SpecialKey {
    uint32_t keysym;
    UINT vk;
    char character;  // 0: none
};
constexpr SpecialKey kSpecialKeys[] = {
    {kKeysymBackSpace, VK_BACK, '\b'},
    {kKeysymTab, VK_TAB, '\t'},
    {kKeysymReturn, VK_RETURN, '\r'},
    {kKeysymKeypadEnter, VK_RETURN, '\r'},
    {kKeysymEscape, VK_ESCAPE, '\x1b'},
    {kKeysymLeft, VK_LEFT, 0},
    {kKeysymUp, VK_UP, 0},
    {kKeysymRight, VK_RIGHT, 0},
    {kKeysymDown, VK_DOWN, 0},
    {kKeysymShiftL, VK_SHIFT, 0},
    {kKeysymShiftR, VK_SHIFT, 0},
    {kKeysymControlL, VK_CONTROL, 0},
    {kKeysymControlR, VK_CONTROL, 0},
};
// The US layout's punctuation keys and their VK_OEM_* codes, by the unshifted character.
constexpr char kOemCharacters[] = ";=,-./`[\\]'";
constexpr UINT kOemCodes[] = {0xBA, 0xBB, 0xBC, 0xBD, 0xBE, 0xBF, 0xC0, 0xDB, 0xDC, 0xDD, 0xDE};

// MK_* flags from the X state before the event.
WPARAM KeyFlags(uint16_t state) {
    WPARAM flags = 0;
    if (state & XCB_KEY_BUT_MASK_BUTTON_1) flags |= MK_LBUTTON;
    if (state & XCB_KEY_BUT_MASK_BUTTON_2) flags |= MK_MBUTTON;
    if (state & XCB_KEY_BUT_MASK_BUTTON_3) flags |= MK_RBUTTON;
    if (state & XCB_KEY_BUT_MASK_SHIFT) flags |= MK_SHIFT;
    if (state & XCB_KEY_BUT_MASK_CONTROL) flags |= MK_CONTROL;
    return flags;
}

WPARAM ButtonFlag(uint8_t button) {
    switch (button) {
        case kButtonLeft:
            return MK_LBUTTON;
        case kButtonMiddle:
            return MK_MBUTTON;
        case kButtonRight:
            return MK_RBUTTON;
        default:
            return 0;
    }
}

// WM_xBUTTONDOWN; UP is one more and DBLCLK two more.
UINT ButtonDownMessage(uint8_t button) {
    switch (button) {
        case kButtonLeft:
            return WM_LBUTTONDOWN;
        case kButtonMiddle:
            return WM_MBUTTONDOWN;
        case kButtonRight:
            return WM_RBUTTONDOWN;
        default:
            return 0;
    }
}

// The virtual key and the character of a keysym; false for a key the layer does not translate.
bool Translate(uint32_t keysym, uint32_t shiftedKeysym, bool shift, UINT* vk, char* character) {
    for (const SpecialKey& key : kSpecialKeys) {
        if (key.keysym == keysym) {
            *vk = key.vk;
            *character = key.character;
            return true;
        }
    }
    if (keysym < 0x20 || keysym > 0x7E) return false;
    const uint32_t typed =
        shift && shiftedKeysym >= 0x20 && shiftedKeysym <= 0x7E ? shiftedKeysym : keysym;
    *character = static_cast<char>(typed);
    if (keysym >= 'a' && keysym <= 'z') {
        *vk = keysym - 'a' + 'A';
    } else if ((keysym >= '0' && keysym <= '9') || keysym == ' ' ||
               (keysym >= 'A' && keysym <= 'Z')) {
        *vk = keysym;
    } else {
        const char* oem = std::strchr(kOemCharacters, static_cast<int>(keysym));
        *vk = oem != nullptr ? kOemCodes[oem - kOemCharacters] : 0;
    }
    return true;
}

}  // namespace

uint32_t X11Display::KeysymOf(uint8_t keycode, int column) const {
    if (keycode < minKeycode_ || column >= keysymsPerKeycode_) return 0;
    const size_t index = static_cast<size_t>(keycode - minKeycode_) * keysymsPerKeycode_ + column;
    return index < keysyms_.size() ? keysyms_[index] : 0;
}

void X11Display::HandleEvent(const xcb_generic_event_t* event) {
    switch (event->response_type & kEventTypeMask) {
        case XCB_EXPOSE: {
            const auto* expose = reinterpret_cast<const xcb_expose_event_t*>(event);
            std::lock_guard<std::mutex> lock(lock_);
            auto id = byId_.find(expose->window);
            if (id == byId_.end()) return;
            RealWindow& window = windows_[id->second];
            const RECT area{expose->x, expose->y, expose->x + expose->width,
                            expose->y + expose->height};
            UnionRect(&window.dirty, &window.dirty, &area);
            return;  // presented before the thread sleeps again
        }
        case XCB_MAP_NOTIFY: {
            // A newly shown window takes the keyboard, as window managers give it.
            const auto* map = reinterpret_cast<const xcb_map_notify_event_t*>(event);
            if (WindowOf(map->window) == nullptr) return;
            std::lock_guard<std::mutex> sending(sendLock_);
            xcb_set_input_focus(connection_, XCB_INPUT_FOCUS_PARENT, map->window, XCB_CURRENT_TIME);
            return;
        }
        case XCB_CONFIGURE_NOTIFY:
            FollowPosition(reinterpret_cast<const xcb_configure_notify_event_t*>(event)->window);
            return;
        case XCB_REPARENT_NOTIFY:
            FollowPosition(reinterpret_cast<const xcb_reparent_notify_event_t*>(event)->window);
            return;
        case XCB_PROPERTY_NOTIFY: {
            const auto* property = reinterpret_cast<const xcb_property_notify_event_t*>(event);
            if (property->atom == wmState_) FollowState(property->window);
            return;
        }
        case XCB_BUTTON_PRESS:
        case XCB_BUTTON_RELEASE:
            HandleButton(reinterpret_cast<const xcb_button_press_event_t*>(event),
                         (event->response_type & kEventTypeMask) == XCB_BUTTON_PRESS);
            return;
        case XCB_MOTION_NOTIFY:
            HandleMotion(reinterpret_cast<const xcb_motion_notify_event_t*>(event));
            return;
        case XCB_KEY_PRESS:
        case XCB_KEY_RELEASE:
            HandleKey(reinterpret_cast<const xcb_key_press_event_t*>(event),
                      (event->response_type & kEventTypeMask) == XCB_KEY_PRESS);
            return;
        case XCB_CLIENT_MESSAGE: {
            const auto* message = reinterpret_cast<const xcb_client_message_event_t*>(event);
            if (message->type != wmProtocols_ || message->format != 32 ||
                message->data.data32[0] != wmDeleteWindow_)
                return;
            if (HWND top = WindowOf(message->window)) PostMessageA(top, WM_CLOSE, 0, 0);
            return;
        }
        default:
            return;
    }
}

void X11Display::PostMouse(HWND top, int x, int y, UINT message, WPARAM keys, bool mayDoubleClick,
                           uint8_t button, uint32_t time) {
    platform::internal::TopLevelState state;
    if (!platform::internal::QueryTopLevel(top, &state)) return;
    const POINT screen{state.rect.left + x, state.rect.top + y};
    HWND target = platform::internal::WindowFromPointInTop(top, screen);
    if (target == nullptr) return;
    if (mayDoubleClick) {
        const PressRecord& last = lastPress_;
        const bool second = last.hwnd == target && last.button == button &&
                            time - last.time <= GetDoubleClickTime() &&
                            std::labs(last.point.x - screen.x) <= kDoubleClickSlop &&
                            std::labs(last.point.y - screen.y) <= kDoubleClickSlop;
        if (second && (GetClassLongPtrA(target, GCL_STYLE) & CS_DBLCLKS)) {
            message += WM_LBUTTONDBLCLK - WM_LBUTTONDOWN;
            lastPress_ = PressRecord{};  // a third press starts over
        } else {
            lastPress_ = PressRecord{target, button, time, screen};
        }
    }
    POINT client = screen;
    if (!ScreenToClient(target, &client)) return;
    PostMessageA(target, message, keys, MAKELPARAM(client.x, client.y));
}

void X11Display::HandleButton(const xcb_button_press_event_t* event, bool press) {
    const UINT down = ButtonDownMessage(event->detail);
    HWND top = WindowOf(event->event);
    if (down == 0 || top == nullptr) return;  // wheel buttons and strangers
    WPARAM keys = KeyFlags(event->state);
    if (press) {
        keys |= ButtonFlag(event->detail);
    } else {
        keys &= ~ButtonFlag(event->detail);
    }
    PostMouse(top, event->event_x, event->event_y, press ? down : down + 1, keys, press,
              event->detail, event->time);
}

void X11Display::HandleMotion(const xcb_motion_notify_event_t* event) {
    if (HWND top = WindowOf(event->event)) {
        PostMouse(top, event->event_x, event->event_y, WM_MOUSEMOVE, KeyFlags(event->state), false,
                  0, event->time);
    }
}

void X11Display::HandleKey(const xcb_key_press_event_t* event, bool press) {
    HWND top = WindowOf(event->event);
    if (top == nullptr) return;
    const bool shift = (event->state & XCB_KEY_BUT_MASK_SHIFT) != 0;
    UINT vk = 0;
    char character = 0;
    if (!Translate(KeysymOf(event->detail, 0), KeysymOf(event->detail, 1), shift, &vk, &character))
        return;
    const LPARAM scan = static_cast<LPARAM>(event->detail - kFirstScanCode) << 16;
    if (!press) {
        PostMessageA(top, WM_KEYUP, vk, 1 | scan | kKeyUpFlags);
        return;
    }
    PostMessageA(top, WM_KEYDOWN, vk, 1 | scan);
    if (character != 0) {
        PostMessageA(top, WM_CHAR, static_cast<unsigned char>(character), 1 | scan);
    }
}

}  // namespace platform_display
