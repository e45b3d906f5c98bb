// What the test library made of the module shows its tests: the store root, which the product
// keeps to itself; and the housekeeping, run again when the probe asks.
#include "Housekeeping.h"
#include "StoreRoot.h"

#ifdef _WIN32
#define PROBE_EXPORT __declspec(dllexport)
#else
#define PROBE_EXPORT __attribute__((visibility("default")))
#endif

extern "C" PROBE_EXPORT const char* PortrixProbeStoreRoot() {
    return GetStoreRoot();
}

extern "C" PROBE_EXPORT void PortrixProbeRunHousekeeping() {
    RunHousekeeping();
}
