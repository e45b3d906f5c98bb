// The host's receiver of the avatar control's mouse messages.
#pragma once

#include "windef.h"

class IMouseEventHook {
public:
    // Called synchronously on the user-interface thread for every mouse message the control
    // receives: the message number (WM_MOUSEMOVE, WM_LBUTTONDOWN ...), its key-state flags and
    // its packed client point (x in the low 16 bits, y in the high 16 bits), both exactly as the
    // window message carried them.
    virtual void OnMouseEvent(UINT message, UINT flags, LONG point) = 0;

protected:
    // The control never deletes its receiver; the host owns it.
    ~IMouseEventHook() = default;
};
