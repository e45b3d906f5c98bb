// Completion polling: timer 1 for the first phase, the default picture at its 21st failed tick,
// timer 2 afterwards, and the version recorded for a picture that timer 1 finds.
#include <chrono>
#include <filesystem>
#include <functional>

#include "RecordingFixture.h"
#include "platform/pump.h"

namespace avatar_test {
namespace {

using PollingTest = RecordingControlTest;
using Clock = std::chrono::steady_clock;

std::string VersionOnesWith(int offset, const char* entry) {
    std::string table;
    for (int i = 0; i < 30; ++i) table += "00001";
    table.replace(static_cast<size_t>(offset), 5, entry);
    return table;
}

bool WaitForFile(const std::string& relative) {
    return WaitUntil([&] { return StoreFileExists(relative); }, 5s);
}

TEST_F(PollingTest, PictureCompleteBeforeTheFirstTickIsShownAndItsVersionRecorded) {
    PutDefaultSet();
    SetDownloadAction([](const DownloadCall&) { PutPicture("Up\\10001_bs.gif", kUserColor); });
    Configure("10001", 2, 6, 0, 12);
    EXPECT_EQ(host.control().Display(), 1);
    EXPECT_TRUE(host.WaitForColor(kUserColor));
    ASSERT_TRUE(WaitForFile("SNS\\10001.txt"));
    EXPECT_EQ(ReadStoreFile("SNS\\10001.txt"), VersionOnesWith(80, "00012"));
}

TEST_F(PollingTest, PlaceholderThenDefaultAfterTheFirstPhaseThenTheSecondPhaseFindsThePicture) {
    PutDefaultSet();
    Configure("10001", 1, 0, 2, 3);
    const Clock::time_point requested = Clock::now();
    EXPECT_EQ(host.control().Display(), 1);
    EXPECT_TRUE(host.WaitForColor(kPlaceholder1Color));
    ASSERT_TRUE(host.WaitForColor(kWoman1Color, 10s));
    // Twenty failed ticks of 50 ms come before the default: never fewer than a second's worth.
    EXPECT_GE(Clock::now() - requested, 950ms);

    // Timer 2 goes on polling for as long as the window lives.
    host.PumpFor(300ms);
    PutPicture("Body\\10001.gif", kUserColor);
    EXPECT_TRUE(host.WaitForColor(kUserColor));
    host.PumpFor(100ms);
    EXPECT_FALSE(StoreFileExists("SNS\\10001.txt"));  // only timer 1 records a version
    EXPECT_EQ(Operations(TakeDownloadCalls()), std::vector<std::string>{"VazirOridoStartGFU"});
}

// The ticks are sent by hand, so the count does not depend on how late a loaded machine runs.
TEST_F(PollingTest, FirstPhaseGivesUpAtItsTwentyFirstFailedTickExactly) {
    PutDefaultSet();
    Configure("10001", 1, 0, 1, 3);
    ASSERT_EQ(host.control().Display(), 1);
    host.control().KillTimer(1);
    ASSERT_TRUE(host.WaitForColor(kPlaceholder1Color));
    for (int tick = 1; tick <= 20; ++tick) ::SendMessageA(host.child(), WM_TIMER, 1, 0);
    host.PumpFor(100ms);
    EXPECT_EQ(host.ShownColor(), kPlaceholder1Color);

    ::SendMessageA(host.child(), WM_TIMER, 1, 0);
    EXPECT_TRUE(host.WaitForColor(kMan1Color));
    PutPicture("Body\\10001.gif", kUserColor);  // timer 2 has taken over
    EXPECT_TRUE(host.WaitForColor(kUserColor));
}

TEST_F(PollingTest, PictureArrivingDuringTheFirstPhaseIsShown) {
    PutDefaultSet();
    Configure("10001", 2, 0, 1, 9);
    EXPECT_EQ(host.control().DisplaywithDownload(), 1);
    EXPECT_TRUE(host.WaitForColor(kPlaceholder2Color));
    host.PumpFor(200ms);
    PutPicture("Up\\10001.gif", kUserColor);
    EXPECT_TRUE(host.WaitForColor(kUserColor));
    ASSERT_TRUE(WaitForFile("SNS\\10001.txt"));
    EXPECT_EQ(ReadStoreFile("SNS\\10001.txt"), VersionOnesWith(50, "00009"));
    host.PumpFor(1200ms);  // nothing else happens once the picture is shown
    EXPECT_EQ(host.ShownColor(), kUserColor);
}

// A stale picture refreshed: timer 1 finds a file at once, but records the version only for one
// the download delivered, replaced or confirmed, not for the old one left after a failure.
TEST_F(PollingTest, AVersionIsRecordedOnlyForAPictureTheDownloadDelivered) {
    const struct {
        const char* outcome;
        std::function<void()> download;
        uint32_t shown;
        bool recorded;
    } rows[] = {
        {"failed", [] {}, kUserColor, false},
        {"confirmed", [] { SetPictureAge("Body\\10001.gif", 0); }, kUserColor, true},
        {"replaced", [] { PutPicture("Body\\10001.gif", kNewerUserColor); }, kNewerUserColor, true},
    };
    PutDefaultSet();
    for (const auto& row : rows) {
        std::filesystem::remove(StorePath("SNS\\10001.txt"));
        PutPicture("Body\\10001.gif", kUserColor, 120);
        SetDownloadAction([&](const DownloadCall&) { row.download(); });
        Configure("10001", 1, 0, 1, 7);
        EXPECT_EQ(host.control().Display(), 1);
        EXPECT_TRUE(host.WaitForColor(row.shown)) << row.outcome;
        host.PumpFor(200ms);
        EXPECT_EQ(StoreFileExists("SNS\\10001.txt"), row.recorded) << row.outcome;
    }
}

TEST_F(PollingTest, PictureThatCannotBeLoadedFallsBackToTheDefault) {
    PutDefaultSet();
    SetDownloadAction(
        [](const DownloadCall&) { WriteStoreFile("Body\\10001.gif", "not a picture"); });
    Configure("10001", 1, 0, 1, 4);
    EXPECT_EQ(host.control().Display(), 1);
    EXPECT_TRUE(host.WaitForColor(kPlaceholder1Color));
    EXPECT_TRUE(host.WaitForColor(kMan1Color));
    host.PumpFor(300ms);
    EXPECT_EQ(host.ShownColor(), kMan1Color);
    EXPECT_FALSE(StoreFileExists("SNS\\10001.txt"));
}

// Timer 2 tries again a picture that timer 1 found but could not load; the good picture is put in
// place before any message is pumped, so timer 2's first tick is the one that finds it.
TEST_F(PollingTest, SecondPhaseRetriesAPictureTheFirstCouldNotLoad) {
    PutDefaultSet();
    Configure("10001", 1, 0, 1, 4);
    ASSERT_EQ(host.control().Display(), 1);
    host.control().KillTimer(1);
    WriteStoreFile("Body\\10001.gif", "not a picture");
    ::SendMessageA(host.child(), WM_TIMER, 1, 0);
    PutPicture("Body\\10001.gif", kUserColor);
    EXPECT_TRUE(host.WaitForColor(kUserColor));
    host.PumpFor(100ms);
    EXPECT_FALSE(
        StoreFileExists("SNS\\10001.txt"));  // only a picture loaded by timer 1 is recorded
}

TEST_F(PollingTest, TimerMessagesOfOtherIdsChangeNothing) {
    PutDefaultSet();
    PutPicture("Body\\10001.gif", kUserColor);
    Configure("10001", 1, 0);
    ASSERT_EQ(host.control().Display(), 1);
    ASSERT_TRUE(host.WaitForColor(kUserColor));
    EXPECT_EQ(::SendMessageA(host.child(), WM_TIMER, 7, 0), 0);
    host.PumpFor(100ms);
    EXPECT_EQ(host.ShownColor(), kUserColor);
    EXPECT_TRUE(TakeDownloadCalls().empty());
}

TEST_F(PollingTest, DownloadOnANewControlEndsWithTheDefaultSetRequested) {
    EXPECT_EQ(host.control().DisplaywithDownload(), 1);
    const std::vector<DownloadCall> calls = TakeDownloadCalls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].operation, "StartDownload");
    EXPECT_EQ(calls[0].userId, "");
    EXPECT_EQ(calls[0].imageType, 1);
    // The first phase ends without a picture; no default path was ever built, so the default
    // set is requested.
    std::vector<DownloadCall> later;
    EXPECT_TRUE(WaitUntil(
        [&] {
            for (DownloadCall& call : TakeDownloadCalls()) later.push_back(call);
            return later.size() == 8;
        },
        5s));
    EXPECT_EQ(later.front().operation, "VazirOridoStartN");
}

TEST_F(PollingTest, DownloadPollsForTheUserAskedForNotTheOneShownBefore) {
    PutDefaultSet();
    PutPicture("Body\\10001.gif", kUserColor);
    Configure("10001", 1, 0, 1, 5);
    ASSERT_EQ(host.control().Display(), 1);
    ASSERT_TRUE(host.WaitForColor(kUserColor));

    host.control().SetUserID("10003");
    EXPECT_EQ(host.control().DisplaywithDownload(), 1);
    EXPECT_TRUE(host.WaitForColor(kPlaceholder1Color));
    host.PumpFor(300ms);
    EXPECT_EQ(host.ShownColor(), kPlaceholder1Color);
    EXPECT_FALSE(StoreFileExists("SNS\\10003.txt"));
    PutPicture("Body\\10003.gif", kNewerUserColor);
    EXPECT_TRUE(host.WaitForColor(kNewerUserColor));
    ASSERT_TRUE(WaitForFile("SNS\\10003.txt"));
    EXPECT_EQ(ReadStoreFile("SNS\\10003.txt"), VersionOnesWith(0, "00005"));
}

}  // namespace
}  // namespace avatar_test
