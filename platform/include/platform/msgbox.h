// Where AfxMessageBox and MessageBoxA send their text. Without a sink of its own the layer shows a
// box on the display when there is one (platform/display.h), and otherwise writes the text to
// standard error and answers IDOK; tests (or a host with a screen of its own) install a sink.
// The sink is process-wide; installing one is safe from any thread, and a box shown while
// another thread swaps the sink goes to one of the two.
#pragma once
#include <functional>

#include "windef.h"

namespace platform {

// Receives the text, the MB_* style and the help id, and returns the button pressed (IDOK...).
using MessageBoxSink = std::function<int(LPCTSTR text, UINT type, UINT helpId)>;

// Installs sink (an empty function restores the default) and returns the one it replaces (an
// empty function for the default, so that putting it back restores the default).
MessageBoxSink SetMessageBoxSink(MessageBoxSink sink);
void ResetMessageBoxSink();

}  // namespace platform
