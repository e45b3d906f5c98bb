// Properties, background hand-over, clearing, mouse forwarding and the default picture set.
#include <filesystem>
#include <tuple>

#include "RecordingFixture.h"
#include "platform/input.h"
#include "platform/pump.h"

namespace avatar_test {
namespace {

using PropertiesTest = RecordingControlTest;

const UINT kMouseMessages[] = {WM_MOUSEMOVE, WM_LBUTTONDOWN,   WM_RBUTTONDOWN,  WM_LBUTTONUP,
                               WM_RBUTTONUP, WM_LBUTTONDBLCLK, WM_RBUTTONDBLCLK};

TEST_F(PropertiesTest, EveryMouseMessageReachesTheReceiverUnconverted) {
    RecordingHook hook;
    EXPECT_EQ(host.control().AttachMouseEventHook(&hook), 1);
    const LPARAM point = MAKELPARAM(-3, 7);  // x in the low half, sign bits and all
    UINT flags = MK_LBUTTON;
    for (UINT message : kMouseMessages) {
        EXPECT_EQ(::SendMessageA(host.child(), message, flags, point), 0) << message;
        flags <<= 1;
    }
    ASSERT_EQ(hook.events.size(), 7u);
    flags = MK_LBUTTON;
    for (size_t i = 0; i < 7; ++i) {
        EXPECT_EQ(hook.events[i], RecordingHook::Event(kMouseMessages[i], flags, MAKELONG(-3, 7)))
            << i;
        flags <<= 1;
    }

    // A null receiver stops the forwarding, and a message without receiver is simply dropped.
    EXPECT_EQ(host.control().AttachMouseEventHook(nullptr), 1);
    for (UINT message : kMouseMessages)
        EXPECT_EQ(::SendMessageA(host.child(), message, 0, point), 0) << message;
    EXPECT_EQ(hook.events.size(), 7u);
}

TEST_F(PropertiesTest, ClickOnTheControlArrivesWithItsClientPoint) {
    RecordingHook hook;
    host.control().AttachMouseEventHook(&hook);
    POINT screen = {5, 6};
    ASSERT_TRUE(::ClientToScreen(host.child(), &screen));
    ASSERT_TRUE(platform::InjectMouse(screen, WM_LBUTTONDBLCLK, MK_LBUTTON | MK_SHIFT));
    ASSERT_TRUE(WaitUntil([&] { return !hook.events.empty(); }, 5s));
    EXPECT_EQ(hook.events[0],
              RecordingHook::Event(WM_LBUTTONDBLCLK, MK_LBUTTON | MK_SHIFT, MAKELONG(5, 6)));
}

TEST_F(PropertiesTest, SetImageTypeDrawsTheDefaultForTypeAndSex) {
    PutDefaultSet();
    CPortrix& control = host.control();
    control.SetSex(1);
    control.SetImageType(2);
    EXPECT_TRUE(host.WaitForColor(kMan2Color));
    control.SetSex(2);  // kept for the next decision; nothing is redrawn
    host.PumpFor(100ms);
    EXPECT_EQ(host.ShownColor(), kMan2Color);
    control.SetImageType(1);
    EXPECT_TRUE(host.WaitForColor(kWoman1Color));
    control.SetSex(0);
    control.SetImageType(2);
    EXPECT_TRUE(host.WaitForColor(kDefault2Color));
    EXPECT_TRUE(TakeDownloadCalls().empty());
}

TEST_F(PropertiesTest, FaceTypeHasNoDefaultAndAsksForWhatIsMissing) {
    PutDefaultSet();
    host.control().SetImageType(3);
    EXPECT_TRUE(TakeDownloadCalls().empty());

    ASSERT_TRUE(std::filesystem::remove(StorePath("default\\man2.gif")));
    host.control().SetServerAddress(kServer);
    host.control().SetImageType(3);
    const std::vector<DownloadCall> calls = TakeDownloadCalls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].operation, "VazirOridoStartN");
    EXPECT_EQ(calls[0].url, "http://avatars.test:8080/c_avatar/man2.gif");
    EXPECT_EQ(calls[0].localPath, std::string(StoreRoot()) + "default\\man2.gif");
}

TEST_F(PropertiesTest, GetDefaultImgRequestsEveryMissingPictureInOrder) {
    const char* const names[] = {"default1.gif", "default2.gif", "man1.gif",      "man2.gif",
                                 "woman1.gif",   "woman2.gif",   "download1.gif", "download2.gif"};
    CPortrix& control = host.control();

    // An empty store: eight requests in table order; asked again, the same eight again.
    control.SetServerAddress(kServer);
    for (int round = 0; round < 2; ++round) {
        control.GetDefaultImg();
        const std::vector<DownloadCall> calls = TakeDownloadCalls();
        ASSERT_EQ(calls.size(), 8u) << "round " << round;
        for (size_t i = 0; i < 8; ++i) {
            EXPECT_EQ(calls[i].url, std::string("http://avatars.test:8080/c_avatar/") + names[i])
                << i;
            EXPECT_EQ(calls[i].localPath, std::string(StoreRoot()) + "default\\" + names[i]) << i;
        }
    }

    // Without a server address the host part is empty.
    control.SetServerAddress("");
    control.GetDefaultImg();
    std::vector<DownloadCall> calls = TakeDownloadCalls();
    ASSERT_EQ(calls.size(), 8u);
    EXPECT_EQ(calls[0].url, "http:///c_avatar/default1.gif");

    // Present pictures are not asked for; a directory of the same name counts as present.
    PutDefaultSet();
    control.GetDefaultImg();
    EXPECT_TRUE(TakeDownloadCalls().empty());
    ASSERT_TRUE(std::filesystem::remove(StorePath("default\\woman1.gif")));
    ASSERT_TRUE(std::filesystem::create_directory(StorePath("default\\woman1.gif")));
    ASSERT_TRUE(std::filesystem::remove(StorePath("default\\download2.gif")));
    control.GetDefaultImg();
    calls = TakeDownloadCalls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].url, "http:///c_avatar/download2.gif");

    // One present but damaged (a portal's page stored over it) is asked for again when the
    // control falls back on it and it does not load.
    ASSERT_TRUE(std::filesystem::remove(StorePath("default\\woman1.gif")));
    PutDefaultSet();
    WriteStoreFile("default\\man1.gif", "<html>Please sign in</html>");
    control.SetSex(1);
    control.SetImageType(1);
    calls = TakeDownloadCalls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].localPath, std::string(StoreRoot()) + "default\\man1.gif");
}

TEST_F(PropertiesTest, ServerAddressEndsAtItsFirstNul) {
    PutDefaultSet();
    Configure("10001", 1, 0);
    host.control().SetServerAddress(CString("avatars.test\0evil", 17));
    EXPECT_EQ(host.control().Display(), 1);
    const std::vector<DownloadCall> calls = TakeDownloadCalls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].serverAddress, "avatars.test");
}

// A memory DC holding a bitmap, as a host keeps its dialog's background. The bitmap is made
// compatible with the screen: one made compatible with a new memory DC is monochrome on Windows.
HDC MakeBackground() {
    HDC screen = ::GetDC(nullptr);
    HDC dc = ::CreateCompatibleDC(screen);
    HBITMAP bitmap = ::CreateCompatibleBitmap(screen, 200, 150);
    ::ReleaseDC(nullptr, screen);
    ::SelectObject(dc, bitmap);
    return dc;
}

bool IsLiveDC(HDC dc) {
    return ::GetDeviceCaps(dc, LOGPIXELSX) != 0;
}

TEST_F(PropertiesTest, BackgroundIsHandedOverOnlyWhilePending) {
    CPortrix& control = host.control();
    // Pending but nothing loaded: the base class does not take it and deletes it as told.
    HDC refused = MakeBackground();
    control.ChangeBgImg(refused, 1);
    EXPECT_FALSE(IsLiveDC(refused));

    // A loaded picture takes the background; the DC stays the host's.
    PutPicture("Body\\10001.gif", kUserColor);
    Configure("10001", 1, 0);
    ASSERT_EQ(control.Display(), 1);
    ASSERT_TRUE(host.WaitForColor(kUserColor));
    HDC taken = MakeBackground();
    control.ChangeBgImg(taken, 1);
    EXPECT_TRUE(IsLiveDC(taken));
    host.PumpFor(50ms);
    EXPECT_EQ(host.ShownColor(), kUserColor);

    // No longer pending: a later hand-over is ignored whole, the DC neither used nor deleted,
    // even where the base class would have deleted it.
    control.SetCloseAvatar();
    HDC ignored = MakeBackground();
    control.ChangeBgImg(ignored, 1);
    EXPECT_TRUE(IsLiveDC(ignored));

    // ChangeBgEvent makes it pending again.
    control.ChangeBgEvent();
    control.ChangeBgImg(ignored, 1);
    EXPECT_FALSE(IsLiveDC(ignored));
    ::DeleteDC(taken);
}

TEST_F(PropertiesTest, SetControlClearErasesThePicture) {
    PutPicture("Body\\10001.gif", kUserColor);
    Configure("10001", 1, 0);
    ASSERT_EQ(host.control().Display(), 1);
    ASSERT_TRUE(host.WaitForColor(kUserColor));
    host.control().SetControlClear();
    EXPECT_TRUE(WaitUntil([&] { return host.ShownColor() != kUserColor; }, 5s));
}

// The flag of the last hand-over made while a background was pending decides whether unloading
// erases the parent under the control; it is kept even when nothing is loaded to take the
// background. Image type 3 has no default picture, so SetImageType(3) unloads and draws nothing.
TEST_F(PropertiesTest, UnloadingErasesUnderTheControlOnlyAsTheLastPendingHandOverAsked) {
    PutPicture("Body\\10001.gif", kUserColor);
    for (const bool erases : {true, false}) {
        HDC taken = nullptr;  // the host's: deleted once the control is gone
        {
            ControlHarness row;
            CPortrix& control = row.control();
            if (erases) control.ChangeBgImg(MakeBackground(), 1);  // not taken: deleted as told
            control.SetUserID("10001");
            control.SetImageType(1);
            ASSERT_EQ(control.Display(), 1) << "erases " << erases;
            ASSERT_TRUE(row.WaitForColor(kUserColor)) << "erases " << erases;
            if (!erases) {
                taken = MakeBackground();
                control.ChangeBgImg(taken, 0);
                HDC ignored = MakeBackground();
                control.ChangeBgImg(ignored, 1);  // nothing pending: its flag must not be kept
                ::DeleteDC(ignored);
            }

            control.SetImageType(3);
            if (erases) {
                EXPECT_TRUE(WaitUntil([&] { return row.ShownColor() != kUserColor; }, 5s));
            } else {
                row.PumpFor(300ms);
                EXPECT_EQ(row.ShownColor(), kUserColor);
            }
        }
        if (taken != nullptr) ::DeleteDC(taken);
    }
}

}  // namespace
}  // namespace avatar_test
