#include "Options.h"

#include <cstdlib>
#include <cstring>

namespace demo {

const char kUsage[] =
    "usage: portrix-demo [options]\n"
    "\n"
    "A host dialog full of avatar controls, fed by an embedded avatar server. Prints a timeline\n"
    "of what each control shows, writes PNG snapshots and a contact sheet, and exits 0 when\n"
    "every control ended on the picture it should show (1 when one did not, or when the window\n"
    "was closed before the controls were asked; Ctrl-C ends it as the signal does).\n"
    "\n"
    "  --out DIR            folder for the snapshots (default: a new folder under $TMPDIR or "
    "/tmp)\n"
    "  --seconds N          run length in seconds, at least 3 (default 6)\n"
    "  --delay-ms N         the embedded server's delay before each answer (default 400)\n"
    "  --server HOST[:PORT] use a real avatar server instead of the embedded one\n"
    "  --window             show the dialog in an X11 window until it is closed; a click on a\n"
    "                       control frames it, shows on the status line and is printed\n"
    "  --help               this text\n";

namespace {

bool Number(const char* text, double low, double high, double* value) {
    char* end = nullptr;
    const double parsed = std::strtod(text, &end);
    if (end == text || *end != '\0' || !(parsed >= low && parsed <= high)) return false;
    *value = parsed;
    return true;
}

}  // namespace

bool ParseOptions(int argc, char** argv, Options* options, std::string* error) {
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        auto value = [&](const char** text) {
            if (i + 1 >= argc) {
                *error = option + " needs a value";
                return false;
            }
            *text = argv[++i];
            return true;
        };
        const char* text = nullptr;
        double number = 0;
        if (option == "--help" || option == "-h") {
            options->help = true;
        } else if (option == "--window") {
            options->window = true;
        } else if (option == "--out") {
            if (!value(&text)) return false;
            options->outDir = text;
        } else if (option == "--server") {
            if (!value(&text)) return false;
            options->server = text;
            if (options->server.empty() || options->server.find('/') != std::string::npos) {
                *error = "--server takes HOST or HOST:PORT";
                return false;
            }
        } else if (option == "--seconds") {
            if (!value(&text)) return false;
            if (!Number(text, 3, 3600, &number)) {
                *error = "--seconds takes a number from 3 to 3600";
                return false;
            }
            options->seconds = number;
        } else if (option == "--delay-ms") {
            if (!value(&text)) return false;
            if (!Number(text, 0, 10000, &number)) {
                *error = "--delay-ms takes a number from 0 to 10000";
                return false;
            }
            options->delayMs = static_cast<int>(number);
        } else {
            *error = "unknown option " + option;
            return false;
        }
    }
    return true;
}

}  // namespace demo
