// What the test library made of the module shows its tests: the store root, which the product
// keeps to itself.
#include "StoreRoot.h"

extern "C" __attribute__((visibility("default"))) const char* PortrixProbeStoreRoot() {
    return GetStoreRoot();
}
