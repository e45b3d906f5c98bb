// The store root for test programs built while the product has no module start-up yet: the
// test's install path followed by "\Avatar\", with the store's directories made.
#include <filesystem>

#include "StoreRoot.h"

const CString& GetStoreRoot() {
    static const CString root = [] {
        for (const char* directory : {"Body", "Up", "Face", "Default", "SNS"})
            std::filesystem::create_directories(std::filesystem::path(PORTRIX_TEST_INSTALL_DIR) / "Avatar" / directory);
        return CString(PORTRIX_TEST_INSTALL_DIR) + "\\Avatar\\";
    }();
    return root;
}
