// What the test library made of the module shows its tests: the store root, which the product
// keeps to itself; and the housekeeping, run again when the probe asks.
#include "Housekeeping.h"
#include "StoreRoot.h"

extern "C" __attribute__((visibility("default"))) const char* PortrixProbeStoreRoot() {
    return GetStoreRoot();
}

extern "C" __attribute__((visibility("default"))) void PortrixProbeRunHousekeeping() {
    RunHousekeeping();
}
