// Linked into the no-store test's recording nimbrel.dll: a reference to no_store_setup.dll, so
// that the loader attaches that library first (no_store_setup.cpp).
extern "C" __declspec(dllimport) void NoStoreSetupAnchor();

extern "C" __declspec(dllexport) void NoStoreSetupAnchorInUse() {
    NoStoreSetupAnchor();
}
