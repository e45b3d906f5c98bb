// The command line of portrix-demo.
#pragma once

#include <string>

namespace demo {

struct Options {
    std::string outDir;    // empty: a fresh folder under the temporary directory
    double seconds = 6.0;  // how long the dialog runs (without --window)
    int delayMs = 400;     // the embedded server's delay before each answer
    std::string server;    // HOST[:PORT] of a real avatar server; empty: embedded
    bool window = false;   // show the dialog in an X11 window until it is closed
    bool help = false;
};

// False (with a message in *error) for an unknown option or a bad value.
bool ParseOptions(int argc, char** argv, Options* options, std::string* error);

extern const char kUsage[];

// The host's result when a signal stopped the run is this plus the signal's number; the
// launcher then ends by that signal itself, once it has removed the throwaway install, so that
// whoever started the demo sees what stopped it (a shell says 130 for Ctrl-C).
constexpr int kStoppedBySignal = 128;

}  // namespace demo
