// A library for the loader's tests: its start-up refuses the attach when PORTRIX_TEST_REFUSE
// is set, as an MFC module whose DllMain returns FALSE does, and it appends "attach" and
// "detach" to the file PORTRIX_TEST_TRACE names when its start-up and clean-up run.
#include <cstdio>
#include <cstdlib>

#include "internal/module_attach.h"

namespace {

void Trace(const char* event) {
    const char* path = std::getenv("PORTRIX_TEST_TRACE");
    if (path == nullptr) return;
    if (FILE* file = std::fopen(path, "a")) {
        std::fprintf(file, "%s\n", event);
        std::fclose(file);
    }
}

int g_anchor;

struct StartUp {
    StartUp() {
        Trace("attach");
        if (std::getenv("PORTRIX_TEST_REFUSE") != nullptr) {
            platform::internal::ReportModuleAttachFailure(
                platform::internal::ModuleFromAddress(&g_anchor));
        }
    }
    ~StartUp() { Trace("detach"); }
} g_startUp;

}  // namespace

extern "C" __attribute__((visibility("default"))) int RefusingLibraryAnswer() {
    return 42;
}
extern "C" __attribute__((visibility("default"))) const void* RefusingLibraryAnchor() {
    return &g_anchor;
}
