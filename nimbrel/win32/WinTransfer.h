// One transfer of one picture on Windows, run to its end on a worker thread: the store's rules
// (StoreTransfer.h) over WinHTTP (WinHttpTransport.h).
#pragma once

#include <functional>

#include "Request.h"

namespace nimbrel {

// `placing` is called with the request once the answer is known and before the picture is put
// in place (or left as it was): from then on a new call for the picture must not join this
// transfer. Returns once the transfer has ended, the hold and the transfer lock given back.
void RunTransfer(Request request, const std::function<void(const Request&)>& placing);

}  // namespace nimbrel
