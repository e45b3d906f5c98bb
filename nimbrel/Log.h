// Opt-in diagnostics: NIMBREL_LOG=1 in the environment sends one line per event to stderr.
// Off by default; the library otherwise never writes to the standard streams.
//
// Lines about a picture start with its local path and its URL:
//   nimbrel: /opt/app/Avatar/Up/10001.gif <- http://host/c_avatar/Up/10001.gif: failed, status 404
//   ...
#pragma once

namespace nimbrel {

struct Request;

bool LogEnabled();
void Log(const char* format, ...) __attribute__((format(printf, 1, 2)));
// A line about the request's picture: what happened, with the status and the reason.
void LogPicture(const Request& request, const char* format, ...)
    __attribute__((format(printf, 2, 3)));

}  // namespace nimbrel
