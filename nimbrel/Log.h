// Opt-in diagnostics: NIMBREL_LOG=1 in the environment sends one line per event to stderr.
// Off by default; the library otherwise never writes to the standard streams.
#pragma once

namespace nimbrel {

bool LogEnabled();
void Log(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace nimbrel
