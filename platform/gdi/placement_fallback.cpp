// Until USER provides window geometry, no handle is a window. USER's definition replaces this.
#include "internal/window_surface.h"

namespace platform_internal {

__attribute__((weak)) BOOL QueryWindowPlacement(HWND, WindowPlacement*) { return FALSE; }

}  // namespace platform_internal
