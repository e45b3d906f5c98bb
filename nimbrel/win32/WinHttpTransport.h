// One HTTP GET over WinHTTP, the Windows transport of the library: the limits of Limits.h, as
// the curl transport has them, the validators sent back as a conditional request, and a 200's
// body handed over piece by piece as it arrives (the store's rules count and keep it).
// Connections are kept and reused as WinHTTP's session pools them; HTTP/2 is asked for where
// the system offers it.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "StoreTransfer.h"

namespace nimbrel {

// Receives a 200's body as it arrives; false stops the transfer (the sink keeps its reason).
using BodySink = std::function<bool(const char* data, size_t length)>;

// GETs `url` (http or https; redirects followed to http or https only, at most kMaxRedirects),
// sending `conditional` as If-None-Match and If-Modified-Since when not empty.
HttpAnswer HttpGet(const std::string& url, const Validators& conditional, const BodySink& sink);

}  // namespace nimbrel
