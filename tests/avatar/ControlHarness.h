// Drives a CPortrix as a host does: a "#32770" dialog with a "STATIC" child (SS_NOTIFY, so it
// gets mouse input), the control subclassing the child, messages pumped until an expected state.
// The avatar store is the test's own: its install directory comes from the build
// (PORTRIX_TEST_INSTALL_DIR), and the hive that the module reads at load points there.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Colors.h"
#include "Portrix.h"

namespace avatar_test {

using namespace std::chrono_literals;

// The store as the control names it ("<install>\Avatar\") and as the test reaches it on disk.
CString StoreRoot();
// POSIX path of a store-relative name given with backslashes, e.g. "Body\10001.gif".
std::string StorePath(const std::string& relative);
// Removes every file from the store's sub-directories (Body, Up, Face, Default, SNS).
void EmptyStore();

// Writes a one-colour picture into the store, modified `age` seconds before the layer's clock.
void PutPicture(const std::string& relative, uint32_t rgb, long long age = 0);
// Sets a store file's modification time to `age` seconds before the layer's clock.
void SetPictureAge(const std::string& relative, long long age);

// Puts all eight default pictures into the store's Default directory, in the colours of Colors.h.
void PutDefaultSet();

std::string ReadStoreFile(const std::string& relative);
void WriteStoreFile(const std::string& relative, const std::string& bytes);
bool StoreFileExists(const std::string& relative);

// Pumps the calling thread's messages until done() holds, looking at least every 20 ms even
// when no message comes (files appear through other threads and processes).
bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = 5s);

class ControlHarness {
public:
    ControlHarness();
    ~ControlHarness();
    ControlHarness(const ControlHarness&) = delete;
    ControlHarness& operator=(const ControlHarness&) = delete;

    CPortrix& control() { return *control_; }
    HWND dialog() const { return dialog_; }
    HWND child() const { return child_; }

    // The colour the screen shows at the middle of the control's place; `size` is the side of
    // the pictures the tests use.
    uint32_t ShownColor() const;
    // Pumps until ShownColor() is rgb; false when it has not become so within the timeout.
    bool WaitForColor(uint32_t rgb, std::chrono::milliseconds timeout = 5s);
    // Pumps until done() holds or the timeout passes, noting the colour shown after every
    // message (each timer tick among them); a colour shown several times in a row is noted once.
    std::vector<uint32_t> ColorsShownUntil(const std::function<bool()>& done,
                                           std::chrono::milliseconds timeout);
    // Pumps for a while, whatever happens.
    void PumpFor(std::chrono::milliseconds duration);

    static constexpr int kLeft = 20;
    static constexpr int kTop = 30;
    static constexpr int kPictureSide = 16;

private:
    HWND dialog_ = nullptr;
    HWND child_ = nullptr;
    std::unique_ptr<CPortrix> control_;
};

}  // namespace avatar_test
