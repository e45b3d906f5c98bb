// Private seam between a library's load hooks (the product's module start-up) and the
// layer's loader (platform/kernel/loader.cpp).
#pragma once
#include "windef.h"

namespace platform::internal {

// The module handle (load address) of the library that contains address; null if none.
HMODULE ModuleFromAddress(const void* address);

// Called from a library's static initialisation when its entry point refused the attach, after
// the library has run its own clean-up. Within LoadLibraryA the load then fails and the
// library is unloaded; outside it the process ends with a message naming the library.
void ReportModuleAttachFailure(HMODULE module);

}  // namespace platform::internal
