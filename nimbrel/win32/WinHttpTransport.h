// One HTTP GET over WinHTTP, the Windows transport of the library: the same limits as the curl
// transport's (Transfer.h), the validators sent back as a conditional request, and a 200's
// body handed over piece by piece as it arrives. Connections are kept and reused as WinHTTP's
// session pools them; HTTP/2 is asked for where the system offers it.
#pragma once

#include <windows.h>

#include <chrono>
#include <functional>
#include <string>

#include "Validators.h"

namespace nimbrel {

inline constexpr long long kMaxBodyBytes = 8 * 1024 * 1024;
inline constexpr DWORD kMaxRedirects = 3;
inline constexpr DWORD kConnectTimeoutMs = 5 * 1000;
inline constexpr DWORD kTransferTimeoutMs = 30 * 1000;

// The time one transfer may take: kTransferTimeoutMs, or less when NIMBREL_TRANSFER_MS in the
// environment says so (it never lengthens it).
std::chrono::milliseconds TransferTimeLimit();

struct HttpAnswer {
    DWORD status = 0;  // of the last response, after redirects; 0 when none came
    Validators validators;
    long long statedLength = -1;  // Content-Length, when the server stated one
    long long bodyBytes = 0;      // handed to the sink
    std::string failure;          // why no whole answer came; empty when one did
};

// Receives a 200's body as it arrives; false stops the transfer (the sink keeps its reason).
using BodySink = std::function<bool(const char* data, size_t length)>;

// GETs `url` (http or https; redirects followed to http or https only, at most kMaxRedirects),
// sending `conditional` as If-None-Match and If-Modified-Since when not empty.
HttpAnswer HttpGet(const std::string& url, const Validators& conditional, const BodySink& sink);

}  // namespace nimbrel
