// The control with the real download library, against an avatar server on 127.0.0.1.
// ctest-labels: threaded
#include <gtest/gtest.h>

#include <algorithm>

#include "ControlHarness.h"
#include "NginxServer.h"
#include "TestPictures.h"
#include "sides.h"

namespace avatar_test {
namespace {

std::string GifBytes(uint32_t rgb, size_t paddingBytes = 0) {
    return SolidGifBytes(ControlHarness::kPictureSide, ControlHarness::kPictureSide, rgb,
                         paddingBytes);
}

class EndToEndTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server.Running()) << server.StartError();
        EmptyStore();
    }
    nimbrel_test::NginxServer server;
    ControlHarness host;
};

TEST_F(EndToEndTest, MissingPictureIsDownloadedShownAndRecorded) {
    server.Put("Up/10001_bs.gif", GifBytes(kUserColor));
    PutDefaultSet();
    CPortrix& control = host.control();
    control.SetUserID("10001");
    control.SetImageType(2);
    control.SetFaceMode(6);
    control.SetImageSN(12);
    control.SetServerAddress(server.Address().c_str());
    EXPECT_EQ(control.Display(), 1);
    EXPECT_TRUE(host.WaitForColor(kUserColor, 10s));
    EXPECT_TRUE(WaitUntil([] { return StoreFileExists("SNS\\10001.txt"); }, 10s));
    EXPECT_EQ(ReadStoreFile("SNS\\10001.txt").substr(80, 5), "00012");
}

TEST_F(EndToEndTest, MissingDefaultPicturesAreFetchedIntoTheStore) {
    const char* const names[] = {"default1.gif", "default2.gif", "man1.gif",      "man2.gif",
                                 "woman1.gif",   "woman2.gif",   "download1.gif", "download2.gif"};
    for (const char* name : names) server.Put(name, GifBytes(kDefault1Color));
    host.control().SetServerAddress(server.Address().c_str());
    host.control().SetSex(1);
    host.control().SetImageType(1);  // man1.gif is missing: the whole set is asked for
    EXPECT_TRUE(WaitUntil(
        [&] {
            for (const char* name : names)
                if (!StoreFileExists(std::string("default\\") + name)) return false;
            return true;
        },
        10s));
    // Fetched pictures serve the next display.
    host.control().SetImageType(1);
    EXPECT_TRUE(host.WaitForColor(kDefault1Color, 5s));
}

// A stored picture refreshed by a slow transfer from nginx (four seconds' worth at its slow
// rate, far longer than the first polling phase).
TEST(SlowRefreshTest, TheOldPictureIsNeverShownOrRecordedAsTheNewerVersion) {
    nimbrel_test::NginxServer server;
    ASSERT_TRUE(server.Running()) << server.StartError();
    EmptyStore();
    PutDefaultSet();
    PutPicture("Body\\slowuser.gif", kUserColor);
    std::string versions;
    for (int entry = 0; entry < 30; ++entry) versions += "00001";
    WriteStoreFile("SNS\\slowuser.txt", versions);
    server.Put("Body/slowuser.gif",
               GifBytes(kNewerUserColor, 4 * nimbrel_test::NginxServer::kSlowBytesPerSecond));

    ControlHarness host;
    CPortrix& control = host.control();
    control.SetUserID("slowuser");
    control.SetImageType(1);
    control.SetFaceMode(0);
    control.SetImageSN(2);
    control.SetServerAddress(server.Address().c_str());
    ASSERT_TRUE(host.WaitForColor(kDefault1Color)) << std::hex << host.ShownColor();
    control.DisplaySN();
    std::vector<uint32_t> shown =
        host.ColorsShownUntil([&] { return host.ShownColor() == kNewerUserColor; }, 15s);

    // Only the pictures count; the dialog's background shows between two of them.
    const uint32_t pictures[] = {kUserColor, kNewerUserColor, kPlaceholder1Color, kDefault1Color};
    shown.erase(std::remove_if(shown.begin(), shown.end(),
                               [&](uint32_t color) {
                                   return std::find(std::begin(pictures), std::end(pictures),
                                                    color) == std::end(pictures);
                               }),
                shown.end());
    shown.erase(std::unique(shown.begin(), shown.end()), shown.end());
    if (!shown.empty() && shown.front() == kDefault1Color)
        shown.erase(shown.begin());  // before the first paint
    EXPECT_EQ(shown, (std::vector<uint32_t>{kPlaceholder1Color, kDefault1Color, kNewerUserColor}));
    // The second phase found the picture: no version is recorded for it.
    EXPECT_EQ(ReadStoreFile("SNS\\slowuser.txt"), versions);

    // So a later DisplaySN asks for version 2 again.
    control.DisplaySN();
    EXPECT_TRUE(
        WaitUntil([&] { return server.RequestsFor("Body/slowuser.gif").size() >= 2; }, 20s));
    EXPECT_EQ(server.RequestsFor("Body/slowuser.gif").size(), 2u);
}

}  // namespace
}  // namespace avatar_test
