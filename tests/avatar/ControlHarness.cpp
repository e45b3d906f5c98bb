#include "ControlHarness.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "TestPictures.h"
#include "platform/capture.h"
#include "platform/pump.h"

namespace avatar_test {

namespace fs = std::filesystem;

namespace {

const char* const kStoreDirectories[] = {"Body", "Up", "Face", "Default", "SNS"};

std::string PosixRelative(std::string relative) {
    for (char& ch : relative)
        if (ch == '\\') ch = '/';
    // The control addresses the Default directory as "default\".
    if (relative.rfind("default/", 0) == 0) relative.replace(0, 7, "Default");
    return relative;
}

time_t LayerNow() {
    return CTime::GetCurrentTime().GetTime();
}

}  // namespace

CString StoreRoot() {
    return CString(PORTRIX_TEST_INSTALL_DIR) + "\\Avatar\\";
}

std::string StorePath(const std::string& relative) {
    return std::string(PORTRIX_TEST_INSTALL_DIR) + "/Avatar/" + PosixRelative(relative);
}

void EmptyStore() {
    for (const char* directory : kStoreDirectories) {
        const fs::path path = fs::path(PORTRIX_TEST_INSTALL_DIR) / "Avatar" / directory;
        std::error_code ignored;
        fs::create_directories(path, ignored);
        for (const auto& entry : fs::directory_iterator(path, ignored))
            fs::remove_all(entry.path(), ignored);
    }
}

void SetPictureAge(const std::string& relative, long long age) {
    // The control compares the file system's time with the layer's clock, in whole seconds: the
    // file is dated on a whole second of that clock, age seconds ago.
    using namespace std::chrono;
    const auto when = system_clock::from_time_t(static_cast<time_t>(LayerNow() - age));
    const auto stamp = fs::file_time_type::clock::now() + (when - system_clock::now());
    std::error_code error;
    fs::last_write_time(StorePath(relative), floor<seconds>(stamp + 500ms), error);
    ASSERT_FALSE(error) << relative << ": " << error.message();
}

void PutPicture(const std::string& relative, uint32_t rgb, long long age) {
    const std::string path = StorePath(relative);
    // Written aside and moved into place, as a download does, so no half file is ever seen.
    const std::string aside = path + ".part";
    ASSERT_TRUE(
        WriteSolidGif(aside, ControlHarness::kPictureSide, ControlHarness::kPictureSide, rgb))
        << path;
    std::error_code error;
    fs::rename(aside, path, error);  // replacing a picture already there, on every system
    ASSERT_FALSE(error) << path << ": " << error.message();
    SetPictureAge(relative, age);
}

void PutDefaultSet() {
    const struct {
        const char* name;
        uint32_t rgb;
    } pictures[] = {
        {"default1.gif", kDefault1Color},
        {"default2.gif", kDefault2Color},
        {"man1.gif", kMan1Color},
        {"man2.gif", kMan2Color},
        {"woman1.gif", kWoman1Color},
        {"woman2.gif", kWoman2Color},
        {"download1.gif", kPlaceholder1Color},
        {"download2.gif", kPlaceholder2Color},
    };
    for (const auto& picture : pictures)
        PutPicture(std::string("default\\") + picture.name, picture.rgb);
}

std::string ReadStoreFile(const std::string& relative) {
    std::ifstream in(StorePath(relative), std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

void WriteStoreFile(const std::string& relative, const std::string& bytes) {
    std::ofstream out(StorePath(relative), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

bool StoreFileExists(const std::string& relative) {
    return fs::exists(StorePath(relative));
}

ControlHarness::ControlHarness() {
    dialog_ = ::CreateWindowExA(0, WC_DIALOG, "avatar test", WS_POPUP | WS_VISIBLE, 100, 100, 200,
                                150, nullptr, nullptr, nullptr, nullptr);
    child_ = ::CreateWindowExA(0, "STATIC", "", WS_CHILD | WS_VISIBLE | SS_NOTIFY, kLeft, kTop, 64,
                               64, dialog_, nullptr, nullptr, nullptr);
    control_ = std::make_unique<CPortrix>();
    EXPECT_TRUE(dialog_ != nullptr && child_ != nullptr);
    EXPECT_TRUE(control_->SubclassWindow(child_));
    PumpFor(20ms);
}

ControlHarness::~ControlHarness() {
    if (dialog_ != nullptr) ::DestroyWindow(dialog_);
    control_.reset();
    platform::PumpPendingMessages();
}

uint32_t ControlHarness::ShownColor() const {
    std::vector<uint32_t> pixels;
    int width = 0, height = 0;
    if (!platform::CaptureWindow(dialog_, &pixels, &width, &height)) return 0xFFFFFFFFu;
    const int x = kLeft + kPictureSide / 2, y = kTop + kPictureSide / 2;
    if (x >= width || y >= height) return 0xFFFFFFFFu;
    return pixels[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)];
}

bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        platform::PumpMessagesUntil(done, 20ms);
    }
    return true;
}

bool ControlHarness::WaitForColor(uint32_t rgb, std::chrono::milliseconds timeout) {
    return WaitUntil([&] { return ShownColor() == rgb; }, timeout);
}

std::vector<uint32_t> ControlHarness::ColorsShownUntil(const std::function<bool()>& done,
                                                       std::chrono::milliseconds timeout) {
    std::vector<uint32_t> shown;
    platform::PumpMessagesUntil(
        [&] {
            const uint32_t color = ShownColor();
            if (shown.empty() || shown.back() != color) shown.push_back(color);
            return done();
        },
        timeout);
    return shown;
}

void ControlHarness::PumpFor(std::chrono::milliseconds duration) {
    platform::PumpMessagesUntil([] { return false; }, duration);
}

}  // namespace avatar_test
