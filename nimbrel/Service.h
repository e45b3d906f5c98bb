// Where CAvatarDownload hands its requests: the process's download engine, over libcurl on
// Linux (Engine.h) and over WinHTTP on Windows (win32/). Nothing comes back.
#pragma once

#include "Request.h"

namespace nimbrel {

// Takes the hold on the stored picture and queues the request; never blocks on the network.
// Does nothing once the library is being unloaded.
void SubmitToEngine(Request request);

}  // namespace nimbrel
