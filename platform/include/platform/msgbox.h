// Where AfxMessageBox sends its text. The default sink writes the text to standard error and
// answers IDOK; tests (or a host without a screen) install their own. The sink is
// process-wide; installing one is safe from any thread, and a box shown while another thread
// swaps the sink goes to one of the two.
#pragma once
#include <functional>

#include "windef.h"

namespace platform {

// Receives the text, the MB_* style and the help id, and returns the button pressed (IDOK...).
using MessageBoxSink = std::function<int(LPCTSTR text, UINT type, UINT helpId)>;

// Installs sink (an empty function restores the default) and returns the one it replaces.
MessageBoxSink SetMessageBoxSink(MessageBoxSink sink);
void ResetMessageBoxSink();

}  // namespace platform
